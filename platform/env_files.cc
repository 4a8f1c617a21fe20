// The real Env's files and folders, and the outcome type they share.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/env.h"
#include "platform/local_trust.h"
#include "platform/posix_file.h"

namespace qb {
namespace {

// Appends are gathered up to this much before they go to the kernel.
constexpr size_t kWriteBufferBytes = 64 * 1024;

FileError ErrorKind(int systemError) {
  switch (systemError) {
    case 0:
      return FileError::kNone;
    case ENOENT:
    case ENOTDIR:
      return FileError::kNotFound;
    case EEXIST:
    case ENOTEMPTY:
      return FileError::kExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return FileError::kNoSpace;
    case EACCES:
    case EPERM:
    case EROFS:
      return FileError::kDenied;
    case EISDIR:
      return FileError::kIsFolder;
    case EXDEV:
      return FileError::kOtherVolume;
    default:
      return FileError::kOther;
  }
}

const char* ErrorText(FileError error) {
  switch (error) {
    case FileError::kNone:
      return "";
    case FileError::kNotFound:
      return "No such file or directory";
    case FileError::kExists:
      return "File exists";
    case FileError::kNoSpace:
      return "No space left on device";
    case FileError::kDenied:
      return "Permission denied";
    case FileError::kIsFolder:
      return "Is a directory";
    case FileError::kOtherVolume:
      return "Invalid cross-device link";
    case FileError::kOther:
      return "Input/output error";
  }
  return "";
}

FileResult FromCall(int returned) {
  return returned == 0 ? FileResult() : FileResult::FromSystemError(errno);
}

}  // namespace

FileResult FileResult::FromSystemError(int systemError) {
  FileResult result;
  result.error_ = ErrorKind(systemError);
  // An unknown error number still means failure.
  if (systemError != 0 && result.error_ == FileError::kNone) result.error_ = FileError::kOther;
  result.system_error_ = systemError;
  return result;
}

FileResult FileResult::Failed(FileError error) {
  FileResult result;
  result.error_ = error;
  return result;
}

std::string FileResult::Reason() const {
  if (system_error_ == 0) return ErrorText(error_);
  char buffer[128];
  return ::strerror_r(system_error_, buffer, sizeof buffer);  // the GNU one: returns the text
}

FileResult Env::NewWritableFile(const std::string& path, CreateMode mode,
                                std::unique_ptr<WritableFile>* file) {
  return OpenPosixWritable(path, mode, kWriteBufferBytes, file);
}

FileResult Env::NewUnbufferedFile(const std::string& path, CreateMode mode,
                                  std::unique_ptr<WritableFile>* file) {
  return OpenPosixWritable(path, mode, 0, file);
}

FileResult Env::NewStreamFile(const std::string& path, std::unique_ptr<WritableFile>* file) {
  return OpenPosixStream(path, file);
}

FileResult Env::OpenReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) {
  return OpenPosixReadable(path, file);
}

FileResult Env::SyncFolder(const std::string& path) {
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FileResult::FromSystemError(errno);
  FileResult result = FromCall(::fsync(fd));
  ::close(fd);
  return result;
}

FileResult Env::RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno != EINVAL && errno != ENOSYS) return FileResult::FromSystemError(errno);
  // A file system without the flag: a hard link fails on an existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return FileResult::FromSystemError(errno);
  ::unlink(from.c_str());
  return {};
}

FileResult Env::Rename(const std::string& from, const std::string& to) {
  return FromCall(::rename(from.c_str(), to.c_str()));
}

FileResult Env::Remove(const std::string& path) {
  if (::unlink(path.c_str()) == 0) return {};
  if (errno != EISDIR && errno != EPERM) return FileResult::FromSystemError(errno);
  // unlink refuses folders (EISDIR on Linux, EPERM elsewhere).
  return FromCall(::rmdir(path.c_str()));
}

FileResult Env::ListFolder(const std::string& path, std::vector<FolderEntry>* entries) {
  entries->clear();
  DIR* dir = ::opendir(path.empty() ? "." : path.c_str());
  if (dir == nullptr) return FileResult::FromSystemError(errno);
  std::string prefix = path;
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  errno = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // The entry's own type where the file system gives it: a stat per
    // entry would cost more than the listing (names are looked up in
    // folders of thousands of scans). Links and unknown types are looked at.
    bool folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat info;
      folder = ::stat((prefix + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    entries->push_back({std::move(name), folder});
    errno = 0;
  }
  const int error = errno;
  ::closedir(dir);
  return FileResult::FromSystemError(error);
}

FileResult Env::Stat(const std::string& path, FileInfo* info) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return FileResult::FromSystemError(errno);
  info->size = static_cast<uint64_t>(st.st_size);
  info->isFolder = S_ISDIR(st.st_mode);
  info->isRegular = S_ISREG(st.st_mode);
  struct stat target;
  info->linksToFolder =
      S_ISLNK(st.st_mode) && ::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  info->modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return {};
}

// The account and its group only (2770, the group kept for what is made
// inside), whatever the umask.
FileResult Env::CreateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0) return FileResult::FromSystemError(errno);
  return FromCall(::chmod(path.c_str(), kGroupFolderMode));
}

FileResult WriteWholeFile(Env& env, const std::string& path, const std::string& data, bool sync) {
  std::unique_ptr<WritableFile> file;
  FileResult result = env.NewWritableFile(path, CreateMode::kTruncate, &file);
  if (result) result = file->Append(data.data(), data.size());
  if (result && sync) result = file->Sync();
  if (file) {
    FileResult closed = file->Close();
    if (result) result = closed;
  }
  return result;
}

FileResult ReadWholeFile(Env& env, const std::string& path, std::string* data) {
  std::unique_ptr<ReadableFile> file;
  FileResult result = env.OpenReadable(path, &file);
  if (!result) return result;
  data->resize(file->Size());
  size_t got = 0;
  result = file->ReadAt(0, data->data(), data->size(), &got);
  data->resize(got);
  return result;
}

FileResult CopyFile(Env& env, const std::string& from, const std::string& to) {
  std::unique_ptr<ReadableFile> source;
  std::unique_ptr<WritableFile> copy;
  FileResult result = env.OpenReadable(from, &source);
  if (!result) return result;
  if (!(result = env.NewWritableFile(to, CreateMode::kTruncate, &copy))) return result;
  std::vector<char> block(1 << 20);
  for (uint64_t at = 0; result && at < source->Size();) {
    size_t got = 0;
    result = source->ReadAt(at, block.data(), block.size(), &got);
    if (result && got == 0) result = FileResult::Failed(FileError::kOther);  // it shrank
    if (result) result = copy->Append(block.data(), got);
    at += got;
  }
  const FileResult closed = copy->Close();
  return result ? closed : result;
}

FileResult MoveFile(Env& env, const std::string& from, const std::string& to) {
  FileResult result = env.Rename(from, to);
  if (result.error() != FileError::kOtherVolume) return result;
  if (!(result = CopyFile(env, from, to))) {
    env.Remove(to);  // never half a file under the new name
    return result;
  }
  return env.Remove(from);
}

}  // namespace qb
