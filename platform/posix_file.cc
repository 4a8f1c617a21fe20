#include "platform/posix_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/local_trust.h"

namespace qb {
namespace {

FileResult WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileResult::FromSystemError(errno);
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
  return {};
}

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int fd, uint64_t size, size_t bufferBytes)
      : fd_(fd),
        size_(size),
        written_back_(size),
        capacity_(bufferBytes),
        buffer_(bufferBytes > 0 ? new char[bufferBytes] : nullptr) {}
  ~PosixWritableFile() override { Close(); }

  FileResult Append(const void* data, size_t length) override {
    if (fd_ < 0) return FileResult::FromSystemError(EBADF);
    if (length == 0) return {};
    const char* bytes = static_cast<const char*>(data);
    if (used_ + length > capacity_) {
      if (FileResult flushed = Flush(); !flushed) return flushed;
    }
    if (used_ + length <= capacity_) {
      std::memcpy(buffer_.get() + used_, bytes, length);
      used_ += length;
    } else if (FileResult written = WriteAll(fd_, bytes, length); !written) {
      return written;
    }
    size_ += length;
    PaceWriteback();
    return {};
  }

  FileResult Sync() override {
    if (fd_ < 0) return FileResult::FromSystemError(EBADF);
    if (FileResult flushed = Flush(); !flushed) return flushed;
    return SyncDescriptor(fd_);
  }

  FileResult Close() override {
    if (fd_ < 0) return close_result_;
    close_result_ = CloseDescriptor(fd_, Flush());
    fd_ = -1;
    return close_result_;
  }

  uint64_t Size() const override { return size_; }

 private:
  FileResult Flush() {
    if (used_ == 0) return {};
    const size_t length = used_;
    used_ = 0;
    return WriteAll(fd_, buffer_.get(), length);
  }

  // A large file is written back while it grows: the kernel starts on each
  // stretch as soon as it is written, and the stretch before is waited
  // for. A Sync after the last byte then finds little left to do, and the
  // dirty memory of one upload stays bounded, where a single flush at the
  // end would take as long as the whole transfer again. Only an
  // optimisation: failures are left to Sync to report.
  void PaceWriteback() {
    constexpr uint64_t kStretch = 8 << 20;
    const uint64_t written = size_ - used_;  // handed to the kernel
    while (written - written_back_ >= kStretch) {
      ::sync_file_range(fd_, static_cast<off_t>(written_back_), kStretch, SYNC_FILE_RANGE_WRITE);
      if (written_back_ >= kStretch) {
        ::sync_file_range(fd_, static_cast<off_t>(written_back_ - kStretch), kStretch,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                              SYNC_FILE_RANGE_WAIT_AFTER);
      }
      written_back_ += kStretch;
    }
  }

  int fd_;
  uint64_t size_;
  uint64_t written_back_;  // writeback has been started up to here
  const size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  FileResult close_result_;
};

class PosixReadableFile final : public ReadableFile {
 public:
  PosixReadableFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~PosixReadableFile() override { ::close(fd_); }

  FileResult ReadAt(uint64_t offset, void* out, size_t length, size_t* got) const override {
    char* bytes = static_cast<char*>(out);
    *got = 0;
    while (*got < length) {
      const ssize_t n =
          ::pread(fd_, bytes + *got, length - *got, static_cast<off_t>(offset + *got));
      if (n < 0) {
        if (errno == EINTR) continue;
        return FileResult::FromSystemError(errno);
      }
      if (n == 0) break;
      *got += static_cast<size_t>(n);
    }
    return {};
  }

  uint64_t Size() const override { return size_; }

 private:
  const int fd_;
  const uint64_t size_;
};

int OpenFlags(CreateMode mode) {
  switch (mode) {
    case CreateMode::kNewOnly:
      return 0;
    case CreateMode::kTruncate:
      return O_TRUNC;
    case CreateMode::kAppend:
      return O_APPEND;
  }
  return 0;
}

}  // namespace

int OpenNewDescriptor(const std::string& path) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_CREAT | O_EXCL, kGroupFileMode);
  if (fd >= 0) ::fchmod(fd, kGroupFileMode);  // open(2) obeys the umask
  return fd;
}

FileResult SyncDescriptor(int fd) {
  if (::fdatasync(fd) != 0) return FileResult::FromSystemError(errno);
  return {};
}

FileResult CloseDescriptor(int fd, FileResult pending) {
  // close(2) is not retried on EINTR: the descriptor is gone either way.
  if (::close(fd) != 0 && pending.ok() && errno != EINTR) return FileResult::FromSystemError(errno);
  return pending;
}

FileResult OpenPosixWritable(const std::string& path, CreateMode mode, size_t bufferBytes,
                             std::unique_ptr<WritableFile>* file) {
  constexpr int kBase = O_WRONLY | O_CLOEXEC | O_NOFOLLOW;
  int fd = -1;
  // Created here: the mode is set by hand, since open(2) obeys the umask.
  // An existing file keeps its mode. The loop covers a file removed between
  // the two opens.
  for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
    fd = OpenNewDescriptor(path);
    if (fd >= 0) {
      // A file just made is an empty regular file: nothing to look up
      // (the raw road makes one per page).
      *file = std::make_unique<PosixWritableFile>(fd, 0, bufferBytes);
      return {};
    }
    if (errno != EEXIST || mode == CreateMode::kNewOnly) return FileResult::FromSystemError(errno);
    fd = ::open(path.c_str(), kBase | OpenFlags(mode));
    if (fd < 0 && errno != ENOENT) return FileResult::FromSystemError(errno);
  }
  if (fd < 0) return FileResult::FromSystemError(ENOENT);
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    return FileResult::FromSystemError(error);
  }
  if (S_ISDIR(info.st_mode)) {
    ::close(fd);
    return FileResult::FromSystemError(EISDIR);
  }
  *file = std::make_unique<PosixWritableFile>(fd, static_cast<uint64_t>(info.st_size), bufferBytes);
  return {};
}

FileResult OpenPosixReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FileResult::FromSystemError(errno);
  struct stat info;
  int error = 0;
  if (::fstat(fd, &info) != 0) {
    error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
  }
  if (error != 0) {
    ::close(fd);
    return FileResult::FromSystemError(error);
  }
  *file = std::make_unique<PosixReadableFile>(fd, static_cast<uint64_t>(info.st_size));
  return {};
}

}  // namespace qb
