#include "platform/clock.h"

#include <time.h>

namespace qb {

int64_t ThreadCpuMicros() {
  struct timespec now;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int WallClockMilliseconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int>(now.tv_nsec / 1000000);
}

int64_t WallClockNs() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace qb
