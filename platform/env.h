// What the receiver asks of the world outside the process: the clocks,
// free disk space, file writes and socket sends (plain or TLS). Code that needs one of
// these takes an Env, so a test can move time, fill the disk or make a
// send fail on purpose (see fault_env.h) instead of waiting for it to
// happen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/disk.h"
#include "platform/tls.h"

namespace qb {

class Env {
 public:
  virtual ~Env() = default;

  // The real one: system clocks, the volume, the kernel's sockets.
  static Env& Default();

  // Monotonic milliseconds; only differences mean anything (timers).
  virtual int64_t NowMs() const;
  // Seconds since 1970 (lock-out times).
  virtual int64_t WallSeconds() const;
  // The longest a thread may wait on the system before it looks at NowMs
  // again (-1: as long as its time-out says). A clock that tests move by
  // hand jumps, so waits measured on it must look often.
  virtual int64_t LongestWaitMs() const { return -1; }
  // Space of the volume holding `path`; false when it cannot be queried.
  virtual bool QueryDiskSpace(const std::string& path, DiskSpace* space) const;
  // As SockSend: bytes taken, or -1 with LastSocketError set.
  virtual long Send(int socket, const void* data, size_t length);
  // As fwrite with an element size of 1: the bytes written.
  virtual size_t Write(std::FILE* file, const void* data, size_t length);
  // As TlsSession::Write (the FTP server's protected sends).
  virtual TlsResult TlsWrite(TlsSession& session, const void* data, int length);
};

}  // namespace qb
