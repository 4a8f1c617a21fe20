// What the receiving side tells the rest of the program: connections,
// documents stored, the disk state. Both ways in (the scan protocol and
// FTP) take this one set; the program (app/) fills it. Each member says on
// which thread it is called; app/ moves whatever must run on its main
// thread there. Unset members do nothing.
#pragma once

#include <cstdint>
#include <functional>

namespace qb {

struct ReceiverEvents {
  // --- connections ---
  // A scan connection was opened / has ended (the loop's thread).
  std::function<void()> connectionOpened;
  std::function<void()> connectionClosed;
  // The scan listeners could not be started (the loop's thread).
  std::function<void()> startFailed;
  // The FTP connection state: 17 while a session is open, else 16. Called
  // under GlobalLock, from any FTP thread.
  std::function<void(uint16_t state)> connectionState;
  // The hardware-address class of an FTP client (dotted IPv4 text) for the
  // setting MACAddressCheck: 2 and 3 are served printers, 99 could not be
  // told; anything else is refused. Unset: every client is refused while
  // the check is on. Any FTP thread.
  std::function<int(const char* ipText)> classifyPeer;

  // --- documents (any thread: the scan protocol calls them on its loop,
  // FTP on its session threads) ---
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
