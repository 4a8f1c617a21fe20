#include "web/web_views.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "admin/destination_edit.h"
#include "admin/destination_status.h"
#include "admin/receive_log_view.h"
#include "admin/receiver_state.h"
#include "admin/service_account.h"
#include "admin/setting_edit.h"
#include "config/folders.h"
#include "config/setting_table.h"

namespace qb {
namespace {

using nlohmann::json;

constexpr size_t kNewestDocuments = 50;
constexpr size_t kLogLinesShown = 500;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The log's entries, newest first.
std::vector<ReceiveLogEntry> Entries(Env& env) {
  std::vector<ReceiveLogEntry> entries;
  for (const std::string& line : ReadReceiveLogLines(env)) {
    if (std::optional<ReceiveLogEntry> entry = ParseReceiveLogLine(line)) entries.push_back(*entry);
  }
  std::reverse(entries.begin(), entries.end());
  return entries;
}

json EntryView(const ReceiveLogEntry& entry) {
  return json{{"id", DocumentId(entry.line)}, {"when", entry.when},   {"sender", entry.sender},
              {"file", entry.file},            {"files", entry.files}, {"folder", entry.folder},
              {"marked", entry.marked}};
}

// The number of the destination whose folder is `folder`, or 0.
int DestinationNumberOf(const std::vector<DestinationEntry>& destinations, const std::string& folder) {
  for (const DestinationEntry& destination : destinations) {
    if (!folder.empty() && destination.folder == folder) return destination.number;
  }
  return 0;
}

// The document's one file when it lies in a folder of `destinations`.
std::string PathOf(const std::vector<DestinationEntry>& destinations, const ReceiveLogEntry& entry) {
  if (entry.files != 1 || entry.file.empty() || entry.file.find('/') != std::string::npos ||
      entry.file == "." || entry.file == "..") {
    return {};
  }
  if (DestinationNumberOf(destinations, entry.folder) == 0) return {};
  return entry.folder + "/" + entry.file;
}

std::vector<DestinationEntry> Destinations(Env& env) {
  std::vector<DestinationEntry> destinations;
  std::string why;
  if (!ReadDestinations(env, &destinations, &why)) destinations.clear();
  return destinations;
}

const char* ThumbnailStateName(ThumbnailState state) {
  switch (state) {
    case ThumbnailState::kReady: return "ready";
    case ThumbnailState::kPending: return "pending";
    case ThumbnailState::kNone: break;
  }
  return "none";
}

}  // namespace

std::string DocumentId(const std::string& logLine) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : logLine) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::string DocumentPath(Env& env, const std::string& id) {
  for (const ReceiveLogEntry& entry : Entries(env)) {
    if (DocumentId(entry.line) == id) return PathOf(Destinations(env), entry);
  }
  return {};
}

std::string ContentTypeOf(const std::string& fileName) {
  const std::string lower = Lower(fileName);
  const size_t dot = lower.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : lower.substr(dot);
  if (extension == ".pdf") return "application/pdf";
  if (extension == ".tif" || extension == ".tiff") return "image/tiff";
  if (extension == ".jpg" || extension == ".jpeg") return "image/jpeg";
  return "application/octet-stream";
}

json StateView(Env& env, ThumbnailCache& thumbnails) {
  const ReceiverState receiver = FindReceiver();
  json ports = json::array();
  for (const ReceiverPort& port : ReceiverPorts(receiver.mode)) {
    ports.push_back({{"name", port.name}, {"protocol", port.protocol}, {"port", port.port},
                     {"enabled", port.enabled}});
  }
  json printers = json::array();
  for (const ConnectedPrinter& printer : ConnectedPrinters()) {
    printers.push_back({{"name", printer.name}, {"address", printer.address},
                        {"connection", printer.connection}});
  }
  const ServiceAccount account = FindServiceAccount();
  json destinations = json::array();
  std::vector<DestinationEntry> entries;
  std::string problem;
  ReadDestinations(env, &entries, &problem);
  for (const DestinationEntry& entry : entries) {
    const DestinationStatus status = DestinationStatusOf(entry, account, env);
    destinations.push_back({{"number", entry.number},
                            {"folder", entry.folder},
                            {"description", entry.description},
                            {"usable", status.usable.ok()},
                            {"reason", status.usable.reason},
                            {"fix", status.usable.fix},
                            {"freeBytes", status.spaceKnown ? json(status.freeBytes) : json()},
                            {"diskState", status.diskState}});
  }
  json documents = json::array();
  for (const ReceiveLogEntry& entry : Entries(env)) {
    if (documents.size() == kNewestDocuments) break;
    json view = EntryView(entry);
    const std::string path = PathOf(entries, entry);
    view["openable"] = !path.empty();
    view["destination"] = DestinationNumberOf(entries, entry.folder);
    view["thumb"] = path.empty() ? "none" : ThumbnailStateName(thumbnails.Ask(view["id"], path));
    view["pages"] = path.empty() ? 0 : thumbnails.Pages(view["id"]);
    documents.push_back(std::move(view));
  }
  return json{{"receiver", {{"mode", ReceiverModeName(receiver.mode)}, {"ports", ports}}},
              {"account", {{"name", account.name}, {"group", account.group}}},
              {"printers", printers},
              {"destinations", destinations},
              {"destinationProblem", problem},
              {"documents", documents}};
}

json LogView(Env& env, const std::string& search) {
  const std::string wanted = Lower(search);
  json lines = json::array();
  for (const ReceiveLogEntry& entry : Entries(env)) {
    if (lines.size() == kLogLinesShown) break;
    if (!wanted.empty() && Lower(entry.line).find(wanted) == std::string::npos) continue;
    lines.push_back(EntryView(entry));
  }
  return lines;
}

json SettingsView() {
  json settings = json::array();
  for (const SettingValue& value : ReadSettingValues(SettingsPath())) {
    const Setting& setting = *value.setting;
    settings.push_back({{"name", std::string(setting.section) + "." + setting.key},
                        {"key", setting.key},
                        {"value", value.value},
                        {"present", value.present},
                        {"default", setting.defaultValue},
                        {"range", SettingRangeText(setting)},
                        {"nextStart", setting.takesEffect == SettingTakesEffect::kNextStart},
                        {"description", setting.description}});
  }
  return settings;
}

json DestinationsView(Env& env) {
  json list = json::array();
  std::vector<DestinationEntry> entries;
  std::string problem;
  ReadDestinations(env, &entries, &problem);
  for (const DestinationEntry& entry : entries) {
    list.push_back({{"number", entry.number},
                    {"folder", entry.folder},
                    {"description", entry.description},
                    {"hasCode", !entry.accessCode.empty()},
                    {"extension", entry.extensionLibrary}});
  }
  return list;
}

json OutcomeView(const Outcome& outcome) {
  return json{{"ok", outcome.ok()}, {"reason", outcome.reason}, {"fix", outcome.fix}};
}

Outcome ApplyDestinationForm(const std::map<std::string, std::string>& form) {
  DestinationChange change;
  const auto field = [&form](const char* name) -> std::optional<std::string> {
    const auto found = form.find(name);
    if (found == form.end()) return std::nullopt;
    return found->second;
  };
  const std::string action = field("action").value_or("");
  if (action == "add") {
    change.kind = DestinationChange::Kind::kAdd;
  } else if (action == "set") {
    change.kind = DestinationChange::Kind::kSet;
  } else if (action == "remove") {
    change.kind = DestinationChange::Kind::kRemove;
  } else {
    return Outcome::Refused(Refusal::kInvalid, "the action must be add, set or remove");
  }
  change.numberText = field("number").value_or("");
  if (change.kind != DestinationChange::Kind::kRemove) {
    change.folder = field("folder");
    change.description = field("description");
    change.accessCode = field("code");
    change.extensionLibrary = field("extension");
  }
  return ApplyDestinationChange(change, FindServiceAccount());
}

Outcome ApplySettingForm(const std::map<std::string, std::string>& form, json* view) {
  const auto name = form.find("name");
  const auto value = form.find("value");
  if (name == form.end() || value == form.end()) {
    const Outcome refused = Outcome::Refused(Refusal::kInvalid, "the form needs a name and a value");
    *view = OutcomeView(refused);
    return refused;
  }
  const Setting* setting = nullptr;
  const Outcome outcome = ChangeSetting(SettingsPath(), name->second, value->second, &setting);
  *view = OutcomeView(outcome);
  const bool restart =
      outcome.ok() && setting != nullptr && setting->takesEffect == SettingTakesEffect::kNextStart;
  (*view)["restartNeeded"] = restart;
  if (restart) (*view)["advice"] = RestartAdvice(FindReceiver());
  return outcome;
}

}  // namespace qb
