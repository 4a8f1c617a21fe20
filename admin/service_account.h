// The account the receiver runs as and its group: the owner of the data
// folder (the package makes it for the service's account, a normal
// instance runs as whoever made its root) and the program's group.
#pragma once

#include <cstdint>
#include <string>

namespace qb {

struct ServiceAccount {
  uint32_t uid = 0;
  uint32_t gid = 0;
  std::string name;
  std::string group;
};

// The account for the data folder of the running generation; this
// process's own account when the data folder does not exist.
ServiceAccount FindServiceAccount();

}  // namespace qb
