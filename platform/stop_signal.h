// A flag other threads can wait on: a descriptor that becomes readable
// once Raise is called and stays so.
#pragma once

namespace qb {

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  void Raise();
  int Descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

// What a wait on a socket ended with.
enum class WaitResult { kReady, kTimedOut, kStopped };
// Waits until `socket` is readable (or writable), the peer hung up, `stopFd`
// (or `otherStopFd`) is readable, or timeoutMs passed (-1: no limit).
// Descriptors below zero are not watched.
WaitResult WaitSocket(int socket, bool forWrite, int stopFd, int timeoutMs, int otherStopFd = -1);

}  // namespace qb
