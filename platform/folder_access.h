// Whether a folder can be entered, without changing the process's current
// directory (several threads name files at once).
#pragma once

#include <string>

namespace qb {

// True when `path` is a directory that the process may enter (search
// permission), i.e. it could become the current directory.
bool CanEnterFolder(const std::string& path);

// True when this process, with the groups it runs with now, may create
// entries in the folder `path` (write and search permission).
bool CanCreateInFolder(const std::string& path);

}  // namespace qb
