// Printing shared by the commands: refusals with their reason and fix,
// JSON documents, sizes for people.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "admin/destination_entry.h"
#include "admin/outcome.h"
#include "admin/receive_log_view.h"

namespace qb::config_tool {

// Tells why `outcome` refused (standard error, or a JSON object on standard
// output) and returns its exit code.
int Refuse(const Outcome& outcome, bool json);
// A usage mistake: the problem and the usage text on standard error.
int UsageError(const std::string& problem);

void PrintJson(const nlohmann::json& document);

// "12.3 GiB", "512 KiB", "17 bytes".
std::string HumanBytes(uint64_t bytes);

nlohmann::json ToJson(const DestinationEntry& entry);
nlohmann::json ToJson(const ReceiveLogEntry& entry);
// "2026/12/06 15:46  page.pdf  (3 files)  from NAME  to destination N"
// (N the first destination of that folder in `destinations`; the folder
// itself when none has it).
std::string DescribeLogEntry(const ReceiveLogEntry& entry,
                             const std::vector<DestinationEntry>& destinations);

}  // namespace qb::config_tool
