// Waiting for a file to change without polling: a kernel notification
// (inotify) on its folder, so that a file replaced whole by a rename is
// followed as well as one appended to.
#pragma once

#include <string>

namespace qb {

class FileWatch {
 public:
  // Watches the entry `name` of `folder`. Check ok().
  FileWatch(const std::string& folder, const std::string& name);
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  bool ok() const { return fd_ >= 0; }
  // Waits up to `timeoutMs` (-1: no limit) until the entry is written,
  // created, replaced or removed; true when it was, false on time-out.
  bool WaitForChange(int timeoutMs);

 private:
  int fd_ = -1;
  std::string name_;
};

}  // namespace qb
