#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace qb {

std::FILE* OpenEveryoneWritable(const std::string& path, const char* mode) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ::fchmod(fd, 0666);
    ::close(fd);
  } else if (errno != EEXIST) {
    return nullptr;
  }
  return std::fopen(path.c_str(), mode);
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

int64_t FileSize(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string full = path;
    if (!full.empty() && full.back() != '/') full += '/';
    entries->push_back({name, IsDirectory(full + name)});
  }
  ::closedir(dir);
  return true;
}

}  // namespace qb
