// Sub-folders that the network names below a destination folder (the meta
// data's sub-folder on the scan road and in FTP sessions, a CWD probe): the
// one rule both roads use to keep every file inside its destination.
#pragma once

#include <string>

namespace qb {

// The folder a file goes to when `subFolder` ("/"-separated, already cleaned
// of control characters) is asked for below the destination `folder`:
// folder/subFolder when that is a real folder below it, or does not exist
// (a missing sub-folder is never made: the file then fails to be stored, as
// it always has). When the way leads through a symbolic link or up out of
// the folder, `folder` itself keeps the file and `*refused` is set.
std::string SubFolderBelow(const std::string& folder, const std::string& subFolder, bool* refused);

// Whether `subFolder` is a real folder below `folder`, reached without a
// symbolic link.
bool IsRealFolderBelow(const std::string& folder, const std::string& subFolder);

}  // namespace qb
