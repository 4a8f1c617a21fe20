#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/local_trust.h"
#include "platform/places.h"

namespace qb {

std::FILE* OpenGroupWritable(const std::string& path, const char* mode) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kGroupFileMode);
  if (fd >= 0) {
    ::fchmod(fd, kGroupFileMode);
    ::close(fd);
  } else if (errno != EEXIST) {
    return nullptr;
  }
  return std::fopen(path.c_str(), mode);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool FileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) == 0;
}

bool MakeWritable(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  return ::chmod(path.c_str(), (info.st_mode & 07777) | S_IWUSR) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

PlaceResult RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return PlaceResult::kPlaced;
  }
  if (errno == EEXIST) return PlaceResult::kNameTaken;
  if (errno != EINVAL && errno != ENOSYS) return PlaceResult::kFailed;
  // A file system without the flag: a hard link fails on an existing name.
  if (::link(from.c_str(), to.c_str()) != 0) {
    return errno == EEXIST ? PlaceResult::kNameTaken : PlaceResult::kFailed;
  }
  ::unlink(from.c_str());
  return PlaceResult::kPlaced;
}

bool CreateNewFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kGroupFileMode);
  if (fd < 0) return false;
  ::fchmod(fd, kGroupFileMode);
  ::close(fd);
  return true;
}

namespace {
bool SyncPath(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}
}  // namespace

bool SyncFile(const std::string& path) { return SyncPath(path, O_RDONLY); }

bool SyncFolder(const std::string& path) {
  return SyncPath(path.empty() ? "." : path, O_RDONLY | O_DIRECTORY);
}

bool MakeGroupWritable(const std::string& path) { return ::chmod(path.c_str(), kGroupFileMode) == 0; }

int64_t FileSize(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

bool EntryModified(const std::string& path, int64_t* modifiedNs, bool* regularFile) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return false;
  *modifiedNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  if (regularFile != nullptr) *regularFile = S_ISREG(info.st_mode);
  return true;
}

bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // The entry's own type where the file system gives it: a stat per
    // entry would cost more than the listing (names are looked up in
    // folders of thousands of scans). Links and unknown types are looked at.
    bool folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      std::string full = path;
      if (!full.empty() && full.back() != '/') full += '/';
      folder = IsDirectory(full + name);
    }
    entries->push_back({std::move(name), folder});
  }
  ::closedir(dir);
  return true;
}

}  // namespace qb

namespace qb {

int CurrentProcessId() { return static_cast<int>(::getpid()); }

namespace {

std::string LettersAndDigits(const std::string& text, size_t most) {
  std::string kept;
  for (char c : text) {
    if (kept.size() == most) break;
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) kept += c;
  }
  return kept;
}

}  // namespace

std::string HostIdentity() {
  const std::string chosen = EnvironmentText("QUILLBOX_HOST_ID");
  if (!chosen.empty() && chosen.size() <= 32 && LettersAndDigits(chosen, 32) == chosen) return chosen;
  char text[64] = "";
  int fd = ::open("/etc/machine-id", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    text[got > 0 ? got : 0] = '\0';
    ::close(fd);
  }
  std::string identity = LettersAndDigits(text, 12);
  if (identity.size() == 12) return identity;
  if (::gethostname(text, sizeof text - 1) == 0) {
    text[sizeof text - 1] = '\0';
    identity = LettersAndDigits(text, 32);
    if (!identity.empty()) return identity;
  }
  return "host";
}

bool ProcessIsRunning(int pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace qb
