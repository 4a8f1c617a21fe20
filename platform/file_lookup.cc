#include "platform/file_lookup.h"

#include <dirent.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qb {

bool RandomTempName(const std::string& folder, const char* prefix, std::string* path) {
  uint64_t random = 0;
  if (::getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return false;
  char name[32];
  std::snprintf(name, sizeof name, "%016llX.tmp", static_cast<unsigned long long>(random));
  *path = folder + prefix + name;
  return true;
}

int RemoveTempFilesWithPrefix(const std::string& folder, const char* prefix) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return 0;
  const size_t prefixLength = std::strlen(prefix);
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefixLength + 4 || name.compare(0, prefixLength, prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0) {
      continue;
    }
    struct stat info;
    const std::string full = folder + name;
    // Only plain files of this account: never a link or someone else's.
    if (::lstat(full.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
      continue;
    }
    if (::unlink(full.c_str()) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace qb
