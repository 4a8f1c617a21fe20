// CPU and wall-clock readings for measurements and trace texts. Time that
// decides behaviour (timers, lock-outs) comes from an Env (env.h).
#pragma once

#include <cstdint>

namespace qb {

// CPU time the calling thread has used, in microseconds (measurements).
int64_t ThreadCpuMicros();

// Milliseconds part (0..999) of the wall clock.
int WallClockMilliseconds();

// The wall clock in nanoseconds since 1970, comparable with the file times
// of EntryModified (platform/files.h).
int64_t WallClockNs();

}  // namespace qb
