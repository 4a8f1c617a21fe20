// Clocks. Timers of the event loop run on a Clock so that tests can move
// time forward instead of waiting minutes.
#pragma once

#include <atomic>
#include <cstdint>

namespace qb {

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds; only differences are meaningful.
  virtual int64_t NowMs() const = 0;
};

// The machine's monotonic clock.
class SystemClock final : public Clock {
 public:
  int64_t NowMs() const override;
  static SystemClock* Instance();
};

// A clock that only moves when told to. Thread-safe.
class ManualClock final : public Clock {
 public:
  int64_t NowMs() const override { return now_.load(); }
  void Advance(int64_t ms) { now_ += ms; }

 private:
  std::atomic<int64_t> now_{1000000};
};

// CPU time the calling thread has used, in microseconds (measurements).
int64_t ThreadCpuMicros();

// Milliseconds part (0..999) of the wall clock.
int WallClockMilliseconds();

// The wall clock in nanoseconds since 1970, comparable with the file times
// of EntryModified (platform/files.h).
int64_t WallClockNs();

}  // namespace qb
