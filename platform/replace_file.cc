#include "platform/replace_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/files.h"
#include "platform/local_trust.h"
#include "platform/posix_file.h"

namespace qb {
namespace {

std::optional<std::string> ReadIfPresent(const std::string& path, struct stat* info) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content;
  char chunk[8192];
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    content.append(chunk, static_cast<size_t>(got));
  }
  if (::fstat(fd, info) != 0) info->st_uid = static_cast<uid_t>(-1);
  ::close(fd);
  return content;
}

void Say(std::string* why, const std::string& text) {
  if (why != nullptr) *why = text;
}

// Holds the writers' lock file for the lifetime of the object.
class WriterTurn {
 public:
  explicit WriterTurn(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kGroupFileMode);
    if (fd_ < 0) {
      error_ = errno;
      return;
    }
    ::fchmod(fd_, kGroupFileMode);
    ::flock(fd_, LOCK_EX);
  }
  ~WriterTurn() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
  WriterTurn(const WriterTurn&) = delete;
  WriterTurn& operator=(const WriterTurn&) = delete;
  bool ok() const { return fd_ >= 0; }
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace

ReplaceResult ReplaceFileLocked(const std::string& path, const FileChange& change, bool sync,
                                std::string* why) {
  // The lock is a file of its own: the file itself is replaced, so a lock
  // on it would be a lock on a file that is gone.
  WriterTurn turn(path + ".lock");
  if (!turn.ok()) {
    Say(why, "cannot create " + path + ".lock: " + std::strerror(turn.error()));
    return ReplaceResult::kFailed;
  }
  struct stat old {};
  const std::optional<std::string> current = ReadIfPresent(path, &old);
  std::string updated;
  if (!change(current, &updated)) return ReplaceResult::kLeft;

  const std::string temporary = path + ".new";
  ::unlink(temporary.c_str());  // a leftover: made afresh with the group's mode
  std::unique_ptr<WritableFile> file;
  FileResult result = OpenPosixWritable(temporary, CreateMode::kNewOnly, 0, &file);
  if (result) result = file->Append(updated.data(), updated.size());
  if (result && sync) result = file->Sync();
  if (result) result = file->Close();
  if (!result) {
    ::unlink(temporary.c_str());
    Say(why, "cannot write " + temporary + ": " + result.Reason());
    return ReplaceResult::kFailed;
  }
  // Root editing the service's file must not leave it to root: the service
  // could no longer read it. Others may only give a group they are in.
  if (current && old.st_uid != static_cast<uid_t>(-1)) {
    if (::chown(temporary.c_str(), old.st_uid, old.st_gid) != 0) {
      (void)!::chown(temporary.c_str(), static_cast<uid_t>(-1), old.st_gid);
    }
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    Say(why, "cannot replace " + path + ": " + std::strerror(error));
    return ReplaceResult::kFailed;
  }
  if (sync) {
    int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
  }
  return ReplaceResult::kReplaced;
}

}  // namespace qb
