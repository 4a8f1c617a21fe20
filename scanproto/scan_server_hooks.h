// What the scan server tells the rest of the program, filled by app/.
#pragma once

#include <cstdint>
#include <functional>

namespace qb {

// Unset members do nothing. All are called on the loop's thread.
struct ScanServerHooks {
  // A connection was opened / has ended (the connection count changed).
  std::function<void()> connectionOpened;
  std::function<void()> connectionClosed;
  // The listeners could not be started.
  std::function<void()> startFailed;
  // The disk state for the tray: 1 or 2 a document arrived, 3 the disk is full.
  std::function<void(int state)> trayState;
  // Announce a new file (when no "document has arrived" signal is set up).
  std::function<void()> newFileNotice;
  // Status notification to the configuration program.
  std::function<void(uint32_t message, int64_t value)> notifyConfig;
  // The user's "a document has arrived" signal.
  std::function<void()> receiveEndSignal;
  // Runs the slow steps of a document (`work`), then `done` on the loop's
  // thread. Unset: `work` runs on a pool thread. Tests that want every step
  // within the handling of one packet run both at once; the job is held
  // (see JobContext::RunDocumentWork) either way.
  std::function<void(std::function<void()> work, std::function<void()> done)> runDocumentWork;
};

// A `runDocumentWork` hook for tests and in-process drivers: every step
// within the handling of the packet that starts it, in order.
inline void RunDocumentWorkInline(std::function<void()> work, std::function<void()> done) {
  work();
  done();
}

}  // namespace qb
