#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/local_trust.h"
#include "platform/places.h"

namespace qb {
namespace {

void Describe(std::string* problem, const std::string& what, const std::string& path, int error,
              const std::string& folder) {
  if (problem == nullptr) return;
  *problem = what + " " + path + ": " + std::strerror(error);
  if (error == EACCES || error == EPERM || error == EROFS) {
    *problem += " (this user needs write rights on " + folder + ")";
  } else if (error == ENOENT || error == ENOTDIR) {
    *problem += " (the folder " + folder + " cannot be created)";
  }
}

}  // namespace

InstanceLock AcquireInstanceLock(const std::string& name, std::string* problem) {
  const std::string folder = RunFolder();
  const std::string path = folder + "/" + name;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kGroupFileMode);
  if (fd < 0) {
    Describe(problem, "cannot create the instance lock", path, errno, folder);
    return InstanceLock::kFailed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return InstanceLock::kAlreadyHeld;
    Describe(problem, "cannot lock", path, error, folder);
    return InstanceLock::kFailed;
  }
  // The descriptor stays open (and the lock held) until the process ends.
  return InstanceLock::kAcquired;
}

bool InstanceLockHeld(const std::string& name) {
  const std::string path = RootPrefix() + "/run/quillbox/" + name;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // also lets go of a shared lock just taken
  return held;
}

}  // namespace qb
