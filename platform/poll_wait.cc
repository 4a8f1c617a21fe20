#include "platform/poll_wait.h"

#include <errno.h>
#include <poll.h>

#include <time.h>

#include <cstdint>

namespace qb {
namespace {

int64_t MonotonicMs() {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

int WaitAnyReadable(const int* descriptors, int count, int timeoutMs) {
  constexpr int kMaxDescriptors = 8;
  if (count <= 0 || count > kMaxDescriptors) return -1;
  pollfd polled[kMaxDescriptors];
  for (int i = 0; i < count; ++i) polled[i] = pollfd{descriptors[i], POLLIN, 0};
  const int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
  for (;;) {
    int wait = -1;
    if (deadline >= 0) {
      const int64_t left = deadline - MonotonicMs();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    const int ready = ::poll(polled, static_cast<nfds_t>(count), wait);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return -1;
    for (int i = 0; i < count; ++i) {
      if (polled[i].revents != 0) return i;
    }
  }
}

}  // namespace qb
