// status: is a receiver running, where it listens, can each destination
// take documents, who is connected, what arrived last.
#include <iostream>

#include "admin/destination_edit.h"
#include "admin/destination_status.h"
#include "admin/receive_log_view.h"
#include "admin/receiver_state.h"
#include "admin/service_account.h"
#include "config/folders.h"
#include "tools/config/commands.h"
#include "tools/config/exit_codes.h"
#include "tools/config/output.h"

namespace qb::config_tool {
namespace {

constexpr size_t kLastDocuments = 5;

struct Status {
  ReceiverState receiver;
  ServiceAccount account;
  std::vector<ReceiverPort> ports;
  std::vector<DestinationStatus> destinations;
  std::string destinationProblem;  // the list could not be read
  std::vector<ConnectedPrinter> printers;
  std::vector<ReceiveLogEntry> lastDocuments;  // newest last
};

Status Gather() {
  Status status;
  Env& env = Env::Default();
  status.receiver = FindReceiver();
  status.account = FindServiceAccount();
  status.ports = ReceiverPorts(status.receiver.mode);
  std::vector<DestinationEntry> entries;
  if (ReadDestinations(env, &entries, &status.destinationProblem)) {
    for (const DestinationEntry& entry : entries) {
      status.destinations.push_back(DestinationStatusOf(entry, status.account, env));
    }
  }
  if (status.receiver.mode != ReceiverMode::kNone) status.printers = ConnectedPrinters();
  for (const std::string& line : ReadReceiveLogLines(env)) {
    if (auto entry = ParseReceiveLogLine(line)) status.lastDocuments.push_back(std::move(*entry));
  }
  if (status.lastDocuments.size() > kLastDocuments) {
    status.lastDocuments.erase(status.lastDocuments.begin(),
                               status.lastDocuments.end() - static_cast<long>(kLastDocuments));
  }
  return status;
}

nlohmann::json ToJson(const Status& status) {
  nlohmann::json ports = nlohmann::json::array();
  for (const ReceiverPort& port : status.ports) {
    ports.push_back({{"name", port.name},
                     {"protocol", port.protocol},
                     {"port", port.port},
                     {"enabled", port.enabled}});
  }
  nlohmann::json destinations = nlohmann::json::array();
  for (const DestinationStatus& destination : status.destinations) {
    nlohmann::json item = config_tool::ToJson(destination.entry);
    item["usable"] = destination.usable.ok();
    if (!destination.usable.ok()) item["problem"] = destination.usable.reason;
    if (!destination.usable.fix.empty()) item["fix"] = destination.usable.fix;
    if (destination.spaceKnown) {
      item["free_bytes"] = destination.freeBytes;
      item["total_bytes"] = destination.totalBytes;
      item["disk_state"] = destination.diskState;
    }
    destinations.push_back(item);
  }
  nlohmann::json printers = nlohmann::json::array();
  for (const ConnectedPrinter& printer : status.printers) {
    printers.push_back(
        {{"name", printer.name}, {"address", printer.address}, {"connection", printer.connection}});
  }
  nlohmann::json documents = nlohmann::json::array();
  for (const ReceiveLogEntry& entry : status.lastDocuments) documents.push_back(config_tool::ToJson(entry));
  nlohmann::json document = {
      {"running", status.receiver.mode != ReceiverMode::kNone},
      {"mode", ReceiverModeName(status.receiver.mode)},
      {"service_running", status.receiver.serviceRunning},
      {"instance_running", status.receiver.instanceRunning},
      {"data_folder", DataFolder()},
      {"account", status.account.name},
      {"group", status.account.group},
      {"ports", ports},
      {"destinations", destinations},
      {"printers", printers},
      {"last_documents", documents}};
  if (!status.destinationProblem.empty()) document["destination_problem"] = status.destinationProblem;
  return document;
}

void PrintHuman(const Status& status) {
  const ReceiverState& receiver = status.receiver;
  std::cout << "Receiver: ";
  if (receiver.mode == ReceiverMode::kNone) {
    std::cout << "not running\n";
  } else {
    std::cout << "running (" << ReceiverModeName(receiver.mode) << " mode)";
    if (receiver.serviceRunning && receiver.instanceRunning) std::cout << ", a desktop instance follows it";
    if (receiver.mode == ReceiverMode::kDesktop) std::cout << ", the service is stopped: nothing is received";
    std::cout << "\n";
  }
  std::cout << "Data folder: " << DataFolder() << " (account " << status.account.name << ", group "
            << status.account.group << ")\n";
  std::cout << (receiver.mode == ReceiverMode::kNone ? "Ports it would use:\n" : "Ports:\n");
  for (const ReceiverPort& port : status.ports) {
    std::cout << "  " << port.name << std::string(14 - std::min<size_t>(13, port.name.size()), ' ')
              << port.protocol << " " << port.port << (port.enabled ? "" : "  (off)") << "\n";
  }
  std::cout << "Destinations:\n";
  if (!status.destinationProblem.empty()) std::cout << "  " << status.destinationProblem << "\n";
  if (status.destinations.empty() && status.destinationProblem.empty()) std::cout << "  none\n";
  for (const DestinationStatus& destination : status.destinations) {
    std::cout << "  " << destination.entry.number << "  " << destination.entry.folder << "  ";
    if (destination.usable.ok()) {
      std::cout << "ok";
    } else {
      std::cout << "CANNOT BE USED: " << destination.usable.reason;
    }
    if (destination.spaceKnown) {
      std::cout << ", " << HumanBytes(destination.freeBytes) << " free";
      if (destination.diskState != "normal") std::cout << " (" << destination.diskState << ")";
    }
    std::cout << "\n";
    if (!destination.usable.fix.empty()) std::cout << "      to fix: " << destination.usable.fix << "\n";
  }
  std::cout << "Printers connected now:";
  if (status.printers.empty()) std::cout << " none";
  std::cout << "\n";
  for (const ConnectedPrinter& printer : status.printers) {
    std::cout << "  " << (printer.name.empty() ? printer.address : printer.name + " (" + printer.address + ")")
              << ", connection " << printer.connection << "\n";
  }
  std::cout << "Last documents received:";
  if (status.lastDocuments.empty()) std::cout << " none";
  std::cout << "\n";
  std::vector<DestinationEntry> listed;
  for (const DestinationStatus& destination : status.destinations) listed.push_back(destination.entry);
  for (const ReceiveLogEntry& entry : status.lastDocuments) {
    std::cout << "  " << DescribeLogEntry(entry, listed) << "\n";
  }
}

}  // namespace

int RunStatus(const Invocation& invocation) {
  if (invocation.words.size() != 1) return UsageError("status takes no arguments");
  const Status status = Gather();
  if (invocation.json) {
    PrintJson(ToJson(status));
  } else {
    PrintHuman(status);
  }
  return status.receiver.mode == ReceiverMode::kNone ? kExitNoReceiver : kExitOk;
}

}  // namespace qb::config_tool
