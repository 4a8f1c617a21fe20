#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/places.h"

namespace qb {

InstanceLock AcquireInstanceLock(const std::string& name) {
  std::string path = RunFolder() + "/" + name;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return InstanceLock::kFailed;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? InstanceLock::kAlreadyHeld : InstanceLock::kFailed;
  }
  // The descriptor stays open (and the lock held) until the process ends.
  return InstanceLock::kAcquired;
}

}  // namespace qb
