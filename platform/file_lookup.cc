#include "platform/file_lookup.h"

#include <errno.h>
#include <fcntl.h>
#include <dirent.h>
#include <glob.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qb {

bool CreateUniqueTempFile(const std::string& folder, const char* prefix, std::string* path) {
  // 64 random bits per name: the names of all sessions can never run out,
  // and nobody can guess the next one. A name that exists is never reused
  // (O_EXCL); a few tries cover the unthinkable clash.
  for (int attempt = 0; attempt < 16; ++attempt) {
    uint64_t random = 0;
    if (::getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return false;
    char name[32];
    std::snprintf(name, sizeof name, "%016llX.tmp", static_cast<unsigned long long>(random));
    std::string candidate = folder + prefix + name;
    int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      *path = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
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

bool PathMatchesAny(const std::string& pattern) {
  if (pattern.find_first_of("*?") == std::string::npos) {
    struct stat info;
    return ::lstat(pattern.c_str(), &info) == 0;
  }
  // glob knows bracket classes and backslash escapes; a literal "[" or "\"
  // of the name must not become one.
  std::string escaped;
  for (char c : pattern) {
    if (c == '[' || c == ']' || c == '\\') escaped += '\\';
    escaped += c;
  }
  glob_t found{};
  int result = ::glob(escaped.c_str(), GLOB_NOSORT | GLOB_PERIOD, nullptr, &found);
  bool any = result == 0 && found.gl_pathc > 0;
  ::globfree(&found);
  return any;
}

}  // namespace qb
