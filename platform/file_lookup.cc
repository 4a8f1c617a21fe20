#include "platform/file_lookup.h"

#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

namespace qb {

bool CreateUniqueTempFile(const std::string& folder, const char* prefix, std::string* path) {
  // Start from a number that differs per process and per call, then walk
  // on: a name that exists is skipped, never reused (O_EXCL).
  static std::atomic<uint32_t> sequence{0};
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  uint32_t start = static_cast<uint32_t>(now.tv_nsec / 1000) ^
                   (static_cast<uint32_t>(::getpid()) << 12) ^ (sequence.fetch_add(1) * 2654435761u);
  for (uint32_t attempt = 0; attempt < 0x10000; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "%X.tmp", (start + attempt) & 0xFFFF);
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
