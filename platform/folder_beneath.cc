#include "platform/folder_beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace qb {
namespace {

// Splits at "/", leaving out empty and "." components; false when a ".."
// is among them (whether it would stay below is not worth deciding for a
// name from the network) or the text is absolute.
bool Components(const std::string& relative, std::vector<std::string>* out) {
  if (!relative.empty() && relative[0] == '/') return false;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") out->push_back(std::move(part));
    start = end + 1;
  }
  return true;
}

BeneathLookup FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return BeneathLookup::kMissing;
    case ENOTDIR:
      return BeneathLookup::kNotFolder;
    case ELOOP:
    case EXDEV:
      return BeneathLookup::kRefused;
    default:
      return BeneathLookup::kFailed;
  }
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// -1 with errno ENOSYS where the kernel has no openat2.
int OpenAt2Beneath(int base, const std::string& relative) {
  open_how how{};
  how.flags = kFolderFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(::syscall(SYS_openat2, base, relative.c_str(), &how, sizeof how));
}

BeneathLookup Walk(int base, const std::vector<std::string>& parts) {
  Descriptor current(::fcntl(base, F_DUPFD_CLOEXEC, 0));
  if (current.get() < 0) return BeneathLookup::kFailed;
  for (const std::string& part : parts) {
    const int next = ::openat(current.get(), part.c_str(), kFolderFlags | O_NOFOLLOW);
    if (next < 0) {
      // With O_PATH a link is not followed but found "not a folder": tell
      // it apart, as openat2 does.
      const int error = errno;
      struct stat entry {};
      if (error == ENOTDIR && ::fstatat(current.get(), part.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(entry.st_mode)) {
        return BeneathLookup::kRefused;
      }
      return FromErrno(error);
    }
    current.reset(next);
  }
  return BeneathLookup::kFolder;
}

BeneathLookup LookUp(const std::string& base, const std::string& relative, bool walkOnly) {
  std::vector<std::string> parts;
  if (!Components(relative, &parts)) return BeneathLookup::kRefused;
  Descriptor folder(::open(base.c_str(), kFolderFlags));
  if (folder.get() < 0) return BeneathLookup::kFailed;
  if (parts.empty()) return BeneathLookup::kFolder;
  if (!walkOnly) {
    std::string joined;
    for (const std::string& part : parts) joined += (joined.empty() ? "" : "/") + part;
    const int fd = OpenAt2Beneath(folder.get(), joined);
    if (fd >= 0) {
      ::close(fd);
      return BeneathLookup::kFolder;
    }
    if (errno != ENOSYS) return FromErrno(errno);
  }
  return Walk(folder.get(), parts);
}

}  // namespace

BeneathLookup LookUpFolderBeneath(const std::string& base, const std::string& relative) {
  return LookUp(base, relative, false);
}

BeneathLookup LookUpFolderBeneathByWalk(const std::string& base, const std::string& relative) {
  return LookUp(base, relative, true);
}

}  // namespace qb
