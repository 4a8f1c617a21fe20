// Two file services of the FTP side: a new temporary file with a unique
// name, and whether anything matches a path with wildcards.
#pragma once

#include <string>

namespace qb {

// Creates a new empty file "<folder><prefix><hex>.tmp" (folder ends with a
// separator) that did not exist before, readable and writable by the owner
// only; its full name goes to `path`. False when none could be made.
bool CreateUniqueTempFile(const std::string& folder, const char* prefix, std::string* path);

// Deletes the files "<folder><prefix>*.tmp" that are plain files of this
// account (left by an earlier run that ended abruptly); returns how many.
int RemoveTempFilesWithPrefix(const std::string& folder, const char* prefix);

// True when a file or folder matches `pattern`, where "*" and "?" in the
// last parts are wildcards (any other character, "[" included, stands for
// itself; names beginning with "." match too).
bool PathMatchesAny(const std::string& pattern);

}  // namespace qb
