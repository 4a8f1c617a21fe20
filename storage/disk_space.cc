#include "storage/disk_space.h"

#include <limits>

#include "config/settings.h"
#include "platform/disk.h"
#include "platform/places.h"
#include "platform/trace.h"

namespace qb {
namespace {

// The query for `path`, or else for its nearest existing parent: a
// destination sub-folder that is not there yet still lies on the volume of
// its parent.
bool QueryWithParentRetry(const std::string& path, DiskSpace* space, const Env& env) {
  if (env.QueryDiskSpace(path, space)) return true;
  std::string folder = path;
  while (!folder.empty()) {
    while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
    size_t slash = folder.rfind(kPathSeparator);
    if (slash == std::string::npos) return false;
    folder.resize(slash == 0 ? 1 : slash);
    if (env.QueryDiskSpace(folder, space)) return true;
    if (folder.size() == 1) return false;
  }
  return false;
}

}  // namespace

int FreePercentOf(uint64_t freeToCaller, uint64_t total) {
  if (total == 0) return kUnknownFreePercent;
  // Divide first when the product would overflow; volumes that large make
  // the lost precision irrelevant.
  if (freeToCaller > std::numeric_limits<uint64_t>::max() / 100) {
    return static_cast<int>(freeToCaller / (total / 100 == 0 ? 1 : total / 100));
  }
  return static_cast<int>(freeToCaller * 100 / total);
}

uint32_t SaturateFreeBytes(uint64_t freeToCaller) {
  if (freeToCaller > std::numeric_limits<uint32_t>::max()) {
    return std::numeric_limits<uint32_t>::max();
  }
  return static_cast<uint32_t>(freeToCaller);
}

int GetFreePercent(const std::string& path, const Env& env) {
  const int percent = MeasureVolume(path, env).freePercent;
  TraceFreePercent(percent);
  return percent;
}

uint32_t GetFreeBytes(const std::string& path, const Env& env) {
  return MeasureVolume(path, env).freeBytes;
}

DiskState ClassifyDiskState(uint32_t freeBytes, int freePercent, int hddSetting) {
  if (freeBytes < kDiskFullLimit) return DiskState::kFull;
  return hddSetting > 100 - freePercent ? DiskState::kNormal : DiskState::kWarning;
}

DiskState EstimateDiskStateByPercent(int freePercent, int hddSetting) {
  if (freePercent == 0) return DiskState::kFull;
  return hddSetting > 100 - freePercent ? DiskState::kNormal : DiskState::kWarning;
}

VolumeSpace MeasureVolume(const std::string& path, const Env& env) {
  VolumeSpace measured;
  DiskSpace space{0, 0};
  if (QueryWithParentRetry(path, &space, env)) {
    measured.freeBytes = SaturateFreeBytes(space.freeToCaller);
    measured.freePercent = FreePercentOf(space.freeToCaller, space.total);
  }
  return measured;
}

void TraceFreePercent(int percent) { TraceLog(" HDD Check  %d percent", percent); }

DiskState EvaluateDiskState(const std::string& path, const Env& env) {
  const VolumeSpace space = MeasureVolume(path, env);
  TraceFreePercent(space.freePercent);
  return ClassifyDiskState(space.freeBytes, space.freePercent, GetHDD());
}

}  // namespace qb
