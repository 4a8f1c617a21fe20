// The FTP server's running flag. Every socket of the server and of its
// sessions watches it: clearing it ends every wait at once, because the
// flag is also a descriptor that each wait polls next to its socket.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/stop_signal.h"

namespace qb {

class FtpRunning {
 public:
  bool IsRunning() const { return running_.load(std::memory_order_acquire) != 0; }
  // Clears the flag and wakes every wait; called once by the server's stop.
  void Stop() {
    running_.store(0, std::memory_order_release);
    wake_.Raise();
  }
  // Readable once the flag is cleared (for poll).
  int WakeDescriptor() const { return wake_.Descriptor(); }

 private:
  std::atomic<uint8_t> running_{1};
  StopSignal wake_;
};

}  // namespace qb
