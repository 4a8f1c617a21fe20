#include "admin/receiver_state.h"

#include <cstdlib>

#include "config/scanner_list.h"
#include "config/settings.h"
#include "interop/svc_ctrl.h"
#include "interop/window_endpoint.h"
#include "nameservice/name_datagram.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/places.h"
#include "platform/service_manager.h"

namespace qb {
namespace {

// The scan protocol's ports are fixed by the printers.
constexpr int kScanJobPort = 37100;
constexpr int kScanDirectPort = 37101;
// The lock a normal or desktop instance holds while it runs.
constexpr char kInstanceLockName[] = "QeurnComm main";
// The companion unit whose presence makes an instance a desktop one.
constexpr char kCompanionUnit[] = "QBXSVC";

}  // namespace

const char* ReceiverModeName(ReceiverMode mode) {
  switch (mode) {
    case ReceiverMode::kService:
      return "service";
    case ReceiverMode::kDesktop:
      return "desktop";
    case ReceiverMode::kNormal:
      return "normal";
    case ReceiverMode::kNone:
      break;
  }
  return "none";
}

ReceiverState FindReceiver() {
  ReceiverState state;
  if (!IsDirectory(RootPrefix() + "/run/quillbox")) return state;
  state.serviceRunning = WindowIsLive(getPipeSvrWindow());
  state.instanceRunning = InstanceLockHeld(kInstanceLockName);
  if (state.serviceRunning) {
    state.mode = ReceiverMode::kService;
  } else if (state.instanceRunning) {
    int startType = 0;
    state.mode = QueryServiceStartType(kCompanionUnit, &startType) == 0 ? ReceiverMode::kDesktop
                                                                         : ReceiverMode::kNormal;
  }
  return state;
}

std::vector<ReceiverPort> ReceiverPorts(ReceiverMode mode) {
  // A desktop instance runs no server of its own: the service does.
  const bool serving = mode != ReceiverMode::kDesktop;
  const int ftpPort = GetFtpPort();
  std::vector<ReceiverPort> ports;
  ports.push_back({"scan", "tcp", kScanJobPort, serving, "scan jobs"});
  ports.push_back({"scan-direct", "tcp", kScanDirectPort, serving, "the printer panel's requests"});
  ports.push_back({"ftp", "tcp", ftpPort, serving && GetFTP_Support() != 0, "plain FTP"});
  ports.push_back({"ftps", "tcp", ftpPort, serving && GetFTPS_Support() != 0,
                   "FTP with AUTH TLS on the same port"});
  ports.push_back({"name-service", "udp", kNameServicePort, serving, "printers' name requests"});
  return ports;
}

ConnectedPrinter ParsePrinterEntry(const std::string& entry) {
  ConnectedPrinter printer;
  const size_t comma = entry.rfind(',');
  std::string who = entry.substr(0, comma);
  if (comma != std::string::npos) printer.connection = std::atoi(entry.c_str() + comma + 1);
  const size_t open = who.rfind('[');
  if (open != std::string::npos && !who.empty() && who.back() == ']') {
    printer.name = who.substr(0, open);
    printer.address = who.substr(open + 1, who.size() - open - 2);
  } else {
    printer.address = who;
  }
  return printer;
}

std::vector<ConnectedPrinter> ConnectedPrinters() {
  std::vector<ConnectedPrinter> printers;
  const int count = CountScannerEntries();
  for (int position = 1; position <= count; ++position) {
    char entry[512];
    if (ReadScannerEntry(position, entry, sizeof entry)) printers.push_back(ParsePrinterEntry(entry));
  }
  return printers;
}

std::string RestartAdvice(const ReceiverState& state) {
  switch (state.mode) {
    case ReceiverMode::kService:
      return "systemctl restart quillbox (or --restart)";
    case ReceiverMode::kDesktop:
      return "the service runs the servers: systemctl restart quillbox (or --restart)";
    case ReceiverMode::kNormal:
      return "end the receiver (the tray's Close, Ctrl-C or kill -TERM) and start it again";
    case ReceiverMode::kNone:
      break;
  }
  return "no receiver runs: the value counts from its next start";
}

}  // namespace qb
