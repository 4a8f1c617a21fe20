// The process's limit on open descriptors.
#pragma once

#include <cstdint>

namespace qb {

// Raises the soft limit on open descriptors to the hard limit, so that a
// crowd of clients meets the system's limit rather than the default 1,024
// (each scan connection, FTP session and transfer holds descriptors). Returns
// the soft limit in force afterwards (0 when it cannot be read).
uint64_t RaiseDescriptorLimitToHard();

// The soft limit, and setting it (tests that run out of descriptors on
// purpose); false when it cannot be set.
uint64_t SoftDescriptorLimit();
bool SetSoftDescriptorLimit(uint64_t limit);

}  // namespace qb
