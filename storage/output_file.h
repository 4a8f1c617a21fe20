// Opening the files that received documents are written to.
#pragma once

#include <cstdio>
#include <string>

namespace qb {

// Opens `path` in `mode` ("wb+" for a first page, "ab+" for later ones). A
// file created here is for this account and its group (mode 0660 whatever
// the umask); an existing file keeps its mode, except that a read-only file is
// made writable by its owner once when it cannot be opened otherwise. Null
// on failure.
std::FILE* OpenOutputFile(const std::string& path, const char* mode);

}  // namespace qb
