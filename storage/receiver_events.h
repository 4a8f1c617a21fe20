// What the receiving side tells the rest of the program: documents stored,
// the disk state, connections. Both ways in (the scan protocol and FTP)
// take this one set; the program (app/) fills it and moves whatever must
// run on its main thread there. Unset members do nothing.
#pragma once

#include <cstdint>
#include <functional>

namespace qb {

struct ReceiverEvents {
  // --- documents (any thread but the event loop's) ---
  // The disk state for the tray: 1 normal, 2 nearly full, 3 full.
  std::function<void(int state)> trayState;
  // Status notification to the configuration program.
  std::function<void(uint32_t message, int64_t value)> notifyConfig;
  // The user's "a document has arrived" signal, and the plain new-file
  // announcement used when that is not set up.
  std::function<void()> receiveEndSignal;
  std::function<void()> newFileNotice;
};

}  // namespace qb
