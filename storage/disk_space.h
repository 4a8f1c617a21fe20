// Free space of the volume that will hold received documents, and the
// three disk states shown by the tray and sent to the service link.
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace qb {

// Below this many free bytes a volume counts as full.
constexpr uint32_t kDiskFullLimit = 10240000;
// Percentage reported when the volume's size cannot be learned.
constexpr int kUnknownFreePercent = 80;

// The values are the state words of the tray and the service link.
enum class DiskState : int {
  kNormal = 0,
  kWarning = 256,  // the used share has reached the setting HDD
  kFull = 512,     // fewer than kDiskFullLimit bytes free
};

// Tray icon states a receiving road reports (scan protocol and FTP alike).
enum : int { kTrayNormal = 1, kTrayWarning = 2, kTrayFull = 3 };

// The volume is measured through `env`.
//
// Free share of the volume holding `path` for the calling user, in whole
// percent (truncated). A path that cannot be queried is retried with its
// nearest existing parent folder; when that fails too the result is 80.
// Traces " HDD Check  %d percent".
int GetFreePercent(const std::string& path, const Env& env);

// Bytes free for the calling user on that volume, saturated at 4294967295.
// A volume that cannot be queried counts as full (0).
uint32_t GetFreeBytes(const std::string& path, const Env& env);

// Both figures of the volume holding `path` from one query: what a
// caller that needs both (each image header, each document's end) asks
// for, rather than querying the volume twice. Traces nothing: the caller
// traces the percentage with TraceFreePercent where its trace has it.
struct VolumeSpace {
  uint32_t freeBytes = 0;
  int freePercent = kUnknownFreePercent;
};
VolumeSpace MeasureVolume(const std::string& path, const Env& env);
void TraceFreePercent(int percent);

// The state by one measurement of the volume and the setting HDD.
DiskState EvaluateDiskState(const std::string& path, const Env& env);

// The state word rule itself: full below the limit, warning when `hddSetting`
// is not greater than the used percentage, normal otherwise.
DiskState ClassifyDiskState(uint32_t freeBytes, int freePercent, int hddSetting);

// The start-up estimate made before the first full evaluation, from the
// percentage alone: full when nothing is free, else normal or warning.
DiskState EstimateDiskStateByPercent(int freePercent, int hddSetting);

// The two measurements from raw volume figures (exposed for tests).
int FreePercentOf(uint64_t freeToCaller, uint64_t total);
uint32_t SaturateFreeBytes(uint64_t freeToCaller);

}  // namespace qb
