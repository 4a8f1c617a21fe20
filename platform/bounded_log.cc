#include "platform/bounded_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {
namespace {

std::FILE* OpenAppending(const std::string& path, bool empty) {
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (empty ? O_TRUNC : 0);
  const int fd = ::open(path.c_str(), flags, 0640);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "a");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace

std::FILE* OpenBoundedLog(const std::string& path, long maxBytes) {
  std::FILE* file = OpenAppending(path, false);
  if (file == nullptr) return nullptr;
  struct stat info;
  if (::fstat(::fileno(file), &info) != 0 || info.st_size < maxBytes) return file;
  std::fclose(file);
  if (std::rename(path.c_str(), (path + ".1").c_str()) != 0) return OpenAppending(path, true);
  return OpenAppending(path, false);
}

}  // namespace qb
