#include "tools/config/output.h"

#include <cstdio>
#include <iostream>

#include "tools/config/exit_codes.h"
#include "tools/config/options.h"

namespace qb::config_tool {
namespace {

const char* RefusalName(Refusal refusal) {
  switch (refusal) {
    case Refusal::kNone:
      return "none";
    case Refusal::kInvalid:
      return "invalid";
    case Refusal::kNotPermitted:
      return "not-permitted";
    case Refusal::kNotListed:
      return "not-listed";
    case Refusal::kListed:
      return "listed";
    case Refusal::kFailed:
      break;
  }
  return "failed";
}

}  // namespace

int Refuse(const Outcome& outcome, bool json) {
  if (json) {
    nlohmann::json document = {{"ok", false},
                               {"error", RefusalName(outcome.refusal)},
                               {"reason", outcome.reason}};
    if (!outcome.fix.empty()) document["fix"] = outcome.fix;
    PrintJson(document);
  } else {
    std::cerr << "quillbox-config: " << outcome.reason << "\n";
    if (!outcome.fix.empty()) std::cerr << "  to fix: " << outcome.fix << "\n";
  }
  return ExitCodeOf(outcome.refusal);
}

int UsageError(const std::string& problem) {
  std::cerr << "quillbox-config: " << problem << "\n" << UsageText();
  return kExitUsage;
}

void PrintJson(const nlohmann::json& document) {
  // Texts from files may hold bytes that are not UTF-8: replaced, not thrown.
  std::cout << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

std::string HumanBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

nlohmann::json ToJson(const DestinationEntry& entry) {
  return {{"number", entry.number},
          {"folder", entry.folder},
          {"description", entry.description},
          {"access_code", entry.accessCode},
          {"extension", entry.extensionLibrary}};
}

nlohmann::json ToJson(const ReceiveLogEntry& entry) {
  return {{"when", entry.when},       {"sender", entry.sender}, {"file", entry.file},
          {"files", entry.files},     {"folder", entry.folder}, {"marked", entry.marked},
          {"line", entry.line}};
}

std::string DescribeLogEntry(const ReceiveLogEntry& entry,
                             const std::vector<DestinationEntry>& destinations) {
  std::string text = entry.when + "  " + entry.file;
  if (entry.marked) text += " (marked by the extension)";
  if (entry.files > 1) text += "  (" + std::to_string(entry.files) + " files)";
  if (!entry.sender.empty()) text += "  from " + entry.sender;
  if (entry.folder.empty()) return text;
  for (const DestinationEntry& destination : destinations) {
    if (destination.folder == entry.folder) {
      return text + "  to destination " + std::to_string(destination.number);
    }
  }
  return text + "  in " + entry.folder;
}

}  // namespace qb::config_tool
