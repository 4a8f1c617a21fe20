#include "platform/disk.h"

#include <sys/statvfs.h>

namespace qb {

bool QueryDiskSpace(const std::string& path, DiskSpace* space) {
  struct statvfs info;
  // An empty path names the current directory's volume, as the current
  // drive stands for it on systems with drives.
  if (::statvfs(path.empty() ? "." : path.c_str(), &info) != 0) return false;
  space->freeToCaller = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  space->total = static_cast<uint64_t>(info.f_blocks) * info.f_frsize;
  return true;
}

}  // namespace qb
