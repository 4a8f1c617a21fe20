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

// The processor's time-stamp counter, read after a serialising
// instruction; false where the processor has none that can be read.
bool ReadTimeStampCounter(uint64_t* value);

// A monotonic clock in nanoseconds (stands in for the time-stamp counter).
int64_t MonotonicNs();

}  // namespace qb
