#include "platform/folder_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

bool CanEnterFolder(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  return ::access(path.c_str(), X_OK) == 0;
}

bool CanCreateInFolder(const std::string& path) {
  // The effective account and the process's own groups, not the user
  // database's: a process started with extra groups has them.
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace qb
