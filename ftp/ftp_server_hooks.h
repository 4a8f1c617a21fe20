// What the scanner FTP server tells the rest of the program, and the one
// thing it asks of it. The FTP threads call these directly; the program
// (app/) fills them and moves whatever must run on its main thread there.
// Unset members do nothing.
#pragma once

#include <cstdint>
#include <functional>

namespace qb {

struct FtpServerHooks {
  // The FTP connection state: 17 while a session is open, else 16. Called
  // under GlobalLock, from any FTP thread.
  std::function<void(uint16_t state)> connectionState;
  // The disk state for the tray: 1 normal, 2 nearly full, 3 full.
  std::function<void(int state)> trayState;
  // Status notification to the configuration program.
  std::function<void(uint32_t message, int64_t value)> notifyConfig;
  // The user's "a document has arrived" signal, and the plain new-file
  // announcement used when that is not set up.
  std::function<void()> receiveEndSignal;
  std::function<void()> newFileNotice;
  // The hardware-address class of a client (dotted IPv4 text) for the
  // setting MACAddressCheck: 2 and 3 are served printers, 99 could not be
  // told; anything else is refused. Unset: every client is refused while
  // the check is on.
  std::function<int(const char* ipText)> classifyPeer;
};

}  // namespace qb
