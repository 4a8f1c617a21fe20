#include "platform/stop_signal.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "platform/clock.h"

namespace qb {
namespace {

int64_t MonotonicMs() { return MonotonicNs() / 1000000; }

}  // namespace

StopSignal::StopSignal() { fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

StopSignal::~StopSignal() {
  if (fd_ >= 0) ::close(fd_);
}

void StopSignal::Raise() {
  // Nobody reads the counter, so the descriptor stays readable for good.
  uint64_t one = 1;
  if (fd_ >= 0) {
    ssize_t ignored = ::write(fd_, &one, sizeof one);
    (void)ignored;
  }
}

WaitResult WaitSocket(int socket, bool forWrite, int stopFd, int timeoutMs, int otherStopFd) {
  // A read wait also ends when the peer shut its side down, so that the
  // caller's receive sees the end at once. A write wait ends on a full
  // hang-up or error only (always reported by poll): a peer that merely
  // stopped sending may still read what we write.
  // Descriptors below zero are ignored by poll.
  pollfd entries[3];
  entries[0] = {socket, static_cast<short>(forWrite ? POLLOUT : (POLLIN | POLLRDHUP)), 0};
  entries[1] = {stopFd, POLLIN, 0};
  entries[2] = {otherStopFd, POLLIN, 0};
  const int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
  for (;;) {
    int wait = -1;
    if (deadline >= 0) {
      int64_t left = deadline - MonotonicMs();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    int ready = ::poll(entries, 3, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      // A descriptor poll cannot watch: let the caller's next call find out.
      return WaitResult::kReady;
    }
    if (ready == 0) return WaitResult::kTimedOut;
    if (entries[1].revents != 0 || entries[2].revents != 0) return WaitResult::kStopped;
    if (entries[0].revents != 0) return WaitResult::kReady;
  }
}

}  // namespace qb
