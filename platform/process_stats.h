// Counts of what this process holds, for tests and benchmarks that check
// nothing is left behind.
#pragma once

#include <cstdint>

namespace qb {

// Whether the process runs with the administrator's rights.
bool RunningAsRoot();

int CountThreads();
int CountOpenDescriptors();
// Resident memory in bytes.
int64_t ResidentBytes();
// CPU time of the whole process (every thread), in microseconds.
int64_t ProcessCpuMicros();
// Times any thread of the process gave up the processor to wait
// (each wake-up of a waiting thread is one).
int64_t VoluntaryContextSwitches();
// Raises the limit of open descriptors as far as allowed; the new limit.
int64_t RaiseDescriptorLimit();

}  // namespace qb
