#include "admin/destination_status.h"

#include "admin/destination_checks.h"
#include "config/settings.h"
#include "storage/disk_space.h"

namespace qb {

DestinationStatus DestinationStatusOf(const DestinationEntry& entry, const ServiceAccount& account,
                                      const Env& env) {
  DestinationStatus status;
  status.entry = entry;
  status.usable = CheckFolderText(entry.folder);
  if (status.usable.ok()) status.usable = CheckFolderUsable(entry.folder, account);
  DiskSpace space{};
  if (!entry.folder.empty() && env.QueryDiskSpace(entry.folder, &space)) {
    status.spaceKnown = true;
    status.freeBytes = space.freeToCaller;
    status.totalBytes = space.total;
    const DiskState state = ClassifyDiskState(SaturateFreeBytes(space.freeToCaller),
                                              FreePercentOf(space.freeToCaller, space.total), GetHDD());
    status.diskState = state == DiskState::kFull      ? "full"
                       : state == DiskState::kWarning ? "warning"
                                                      : "normal";
  }
  return status;
}

}  // namespace qb
