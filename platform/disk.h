// Disk space of the volume holding a path.
#pragma once

#include <cstdint>
#include <string>

namespace qb {

struct DiskSpace {
  uint64_t freeToCaller;  // bytes the calling user may still use
  uint64_t total;         // size of the volume
};

// False when the path cannot be queried (for instance it does not exist).
bool QueryDiskSpace(const std::string& path, DiskSpace* space);

}  // namespace qb
