#include "platform/secret_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace qb {
namespace {

constexpr mode_t kSecretMode = 0640;
constexpr size_t kSecretLimit = 4096;

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

}  // namespace

bool ReadSecretFile(const std::string& path, std::string* text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            static_cast<size_t>(info.st_size) <= kSecretLimit;
  text->clear();
  char buffer[kSecretLimit];
  while (ok) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || text->size() + static_cast<size_t>(got) > kSecretLimit) ok = false;
    if (got <= 0) break;
    text->append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return ok;
}

bool WriteSecretFile(const std::string& path, const std::string& text) {
  const std::string staging = path + ".new";
  ::unlink(staging.c_str());
  const int fd = ::open(staging.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        kSecretMode);
  if (fd < 0) return false;
  // The mode asked for is cut by the umask; the group must read it.
  bool ok = ::fchmod(fd, kSecretMode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = std::rename(staging.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(staging.c_str());
  return ok;
}

}  // namespace qb
