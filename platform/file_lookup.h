// The names of the FTP side's temporary files: a new one that nobody can
// guess, and the sweep of those an earlier run left.
#pragma once

#include <string>

namespace qb {

// "<folder><prefix><hex>.tmp" (folder ends with a separator) with 64
// random bits: the names of all sessions never run out, and nobody can
// guess the next one. The caller creates it (new only) and draws again in
// the unthinkable case that it exists. False when no random bits came.
bool RandomTempName(const std::string& folder, const char* prefix, std::string* path);

// Deletes the files "<folder><prefix>*.tmp" that are plain files of this
// account (left by an earlier run that ended abruptly); returns how many.
int RemoveTempFilesWithPrefix(const std::string& folder, const char* prefix);

}  // namespace qb
