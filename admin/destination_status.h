// The disk state of each destination as the receiver's account meets it:
// whether its folder can take files, and how much room is left there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "admin/destination_entry.h"
#include "admin/outcome.h"
#include "admin/service_account.h"
#include "platform/env.h"

namespace qb {

struct DestinationStatus {
  DestinationEntry entry;
  Outcome usable;  // done, or why the receiver would refuse a scan to it
  bool spaceKnown = false;
  uint64_t freeBytes = 0;
  uint64_t totalBytes = 0;
  std::string diskState;  // "normal", "warning" (HDD reached), "full"
};

DestinationStatus DestinationStatusOf(const DestinationEntry& entry, const ServiceAccount& account,
                                      const Env& env);

}  // namespace qb
