#include "platform/folder_access.h"

#include <sys/stat.h>
#include <unistd.h>

namespace qb {

bool CanEnterFolder(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  return ::access(path.c_str(), X_OK) == 0;
}

}  // namespace qb
