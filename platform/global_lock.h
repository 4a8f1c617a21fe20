// The one program-wide re-entrant lock that serialises shared data-file work
// (scanner list, destination list, receive log), status notifications and
// the FTP server's bookkeeping. Never hold it while waiting on the network.
#pragma once

#include <mutex>

namespace qb {

std::recursive_mutex& GlobalLock();

// Holds GlobalLock for the lifetime of the object.
class GlobalLockGuard {
 public:
  GlobalLockGuard() : lock_(GlobalLock()) {}
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

 private:
  std::lock_guard<std::recursive_mutex> lock_;
};

}  // namespace qb
