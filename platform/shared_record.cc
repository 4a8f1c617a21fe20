#include "platform/shared_record.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/local_trust.h"

namespace qb {
namespace {

// An open record file with its lock held; the descriptor is -1 when the
// file cannot be used (missing, not a regular file, not openable).
class LockedRecord {
 public:
  // Opens for reading only, or for writing with the file created when
  // missing.
  LockedRecord(const std::string& path, bool write) {
    // No links followed and no blocking open: the name may have been
    // replaced by anything.
    const int flags = (write ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    fd_ = ::open(path.c_str(), flags, kGroupFileMode);
    if (fd_ < 0) return;
    struct stat info;
    if (::flock(fd_, write ? LOCK_EX : LOCK_SH) != 0 || ::fstat(fd_, &info) != 0 ||
        !S_ISREG(info.st_mode)) {
      Close();
      return;
    }
    if (write && info.st_size == 0) ::fchmod(fd_, kGroupFileMode);
  }
  ~LockedRecord() { Close(); }
  LockedRecord(const LockedRecord&) = delete;
  LockedRecord& operator=(const LockedRecord&) = delete;

  int fd() const { return fd_; }

  // Bytes read into `out` (at most `size`), stopping at the end of file.
  size_t Read(uint8_t* out, size_t size) const {
    size_t done = 0;
    while (done < size) {
      ssize_t got = ::pread(fd_, out + done, size - done, static_cast<off_t>(done));
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    return done;
  }

  bool Write(const uint8_t* bytes, size_t size) const {
    size_t done = 0;
    while (done < size) {
      ssize_t put = ::pwrite(fd_, bytes + done, size - done, static_cast<off_t>(done));
      if (put <= 0) return false;
      done += static_cast<size_t>(put);
    }
    return true;
  }

 private:
  void Close() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
    fd_ = -1;
  }

  int fd_ = -1;
};

}  // namespace

bool ReadSharedRecord(const std::string& path, size_t size, uint8_t* out) {
  if (size > kSharedRecordMax) return false;
  LockedRecord record(path, false);
  if (record.fd() < 0) return false;
  return record.Read(out, size) == size;
}

bool UpdateSharedRecord(const std::string& path, size_t size,
                        const std::function<void(uint8_t* bytes)>& change) {
  if (size > kSharedRecordMax) return false;
  LockedRecord record(path, true);
  if (record.fd() < 0) return false;
  uint8_t bytes[kSharedRecordMax] = {};
  record.Read(bytes, size);  // a short file reads as zeros beyond its end
  change(bytes);
  return record.Write(bytes, size);
}

}  // namespace qb
