// Whether a receiver runs on this root and how it is reached: its process
// mode (from the run-time objects under R/run/quillbox), its ports (from
// the settings and the receiver's defaults), the printers connected now.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb {

enum class ReceiverMode { kNone, kNormal, kService, kDesktop };

struct ReceiverState {
  ReceiverMode mode = ReceiverMode::kNone;
  bool serviceRunning = false;   // a service instance's window is live
  bool instanceRunning = false;  // a normal or desktop instance holds the lock
};

// "service", "desktop", "normal" or "none".
const char* ReceiverModeName(ReceiverMode mode);

// Looks without creating anything: a root where no receiver ever ran has
// no run-time folder, and making one would give it this account's group.
ReceiverState FindReceiver();

struct ReceiverPort {
  std::string name;      // "scan", "scan-direct", "ftp", "ftps", "name-service"
  std::string protocol;  // "tcp" or "udp"
  int port = 0;
  bool enabled = true;
  std::string note;
};

// The ports a receiver in `mode` listens on (kNone: what one would use).
std::vector<ReceiverPort> ReceiverPorts(ReceiverMode mode);

struct ConnectedPrinter {
  std::string name;     // the printer's own name, may be empty
  std::string address;  // its network address
  int connection = 0;   // the receiver's connection number
};

// The printers connected now (the receiver's list in the settings file).
std::vector<ConnectedPrinter> ConnectedPrinters();
// One entry of that list: "NAME[ADDRESS],N" or "ADDRESS,N".
ConnectedPrinter ParsePrinterEntry(const std::string& entry);

// What a person does to restart the receiver for a setting read at start.
std::string RestartAdvice(const ReceiverState& state);

}  // namespace qb
