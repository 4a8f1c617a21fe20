// dest list | add | set | remove.
#include <iostream>

#include "admin/destination_edit.h"
#include "admin/service_account.h"
#include "tools/config/commands.h"
#include "tools/config/exit_codes.h"
#include "tools/config/output.h"

namespace qb::config_tool {
namespace {

int List(const Invocation& invocation) {
  std::vector<DestinationEntry> entries;
  std::string why;
  if (!ReadDestinations(Env::Default(), &entries, &why)) {
    return Refuse(Outcome::Refused(Refusal::kFailed, why), invocation.json);
  }
  if (invocation.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const DestinationEntry& entry : entries) list.push_back(ToJson(entry));
    PrintJson({{"file", DestinationListPath()}, {"destinations", list}});
    return kExitOk;
  }
  if (entries.empty()) std::cout << "No destinations in " << DestinationListPath() << "\n";
  for (const DestinationEntry& entry : entries) {
    std::cout << entry.number << "  " << entry.folder;
    if (!entry.description.empty()) std::cout << "  \"" << entry.description << "\"";
    if (!entry.accessCode.empty()) std::cout << "  code " << entry.accessCode;
    if (!entry.extensionLibrary.empty()) std::cout << "  extension " << entry.extensionLibrary;
    std::cout << "\n";
  }
  return kExitOk;
}

int Change(const Invocation& invocation, DestinationChange::Kind kind) {
  const auto& words = invocation.words;
  const size_t wanted = kind == DestinationChange::Kind::kAdd ? 4 : 3;
  if (words.size() != wanted) {
    return UsageError("dest " + words[1] + " takes " +
                      (kind == DestinationChange::Kind::kAdd ? "a number and a folder" : "a number"));
  }
  DestinationChange change;
  change.kind = kind;
  change.numberText = words[2];
  if (kind == DestinationChange::Kind::kAdd) change.folder = words[3];
  if (kind == DestinationChange::Kind::kRemove) {
    if (invocation.folder || invocation.description || invocation.code || invocation.extension) {
      return UsageError("dest remove takes no field options");
    }
  } else {
    if (invocation.folder) {
      if (kind == DestinationChange::Kind::kAdd) return UsageError("dest add takes the folder as a word");
      change.folder = invocation.folder;
    }
    change.description = invocation.description;
    change.accessCode = invocation.code;
    change.extensionLibrary = invocation.extension;
    if (kind == DestinationChange::Kind::kSet && !change.folder && !change.description &&
        !change.accessCode && !change.extensionLibrary) {
      return UsageError("dest set needs --folder, --description, --code or --extension");
    }
  }
  const Outcome outcome = ApplyDestinationChange(change, FindServiceAccount());
  if (!outcome.ok()) return Refuse(outcome, invocation.json);
  const char* done = kind == DestinationChange::Kind::kAdd   ? "added"
                     : kind == DestinationChange::Kind::kSet ? "changed"
                                                             : "removed";
  if (invocation.json) {
    PrintJson({{"ok", true}, {"destination", std::stoi(change.numberText)}, {"done", done}});
  } else {
    std::cout << "Destination " << std::stoi(change.numberText) << " " << done
              << "; the receiver uses it from the next document.\n";
  }
  return kExitOk;
}

}  // namespace

int RunDest(const Invocation& invocation) {
  const auto& words = invocation.words;
  if (words.size() < 2) return UsageError("dest needs list, add, set or remove");
  if (words[1] == "list") {
    if (words.size() != 2) return UsageError("dest list takes no arguments");
    return List(invocation);
  }
  if (words[1] == "add") return Change(invocation, DestinationChange::Kind::kAdd);
  if (words[1] == "set") return Change(invocation, DestinationChange::Kind::kSet);
  if (words[1] == "remove") return Change(invocation, DestinationChange::Kind::kRemove);
  return UsageError("unknown dest command " + words[1]);
}

}  // namespace qb::config_tool
