#include "admin/destination_edit.h"

#include "admin/destination_checks.h"
#include "admin/write_permission.h"
#include "platform/account_access.h"
#include "platform/global_lock.h"
#include "platform/replace_file.h"
#include "storage/data_files.h"
#include "storage/text_lines.h"

namespace qb {
namespace {

constexpr size_t kListLineBuffer = 520;

bool SameNumber(const std::string& line, int number) {
  const std::optional<DestinationEntry> entry = ParseDestinationLine(line);
  return entry && entry->number == number;
}

// The line end the file uses already, so that a list kept by a program on
// another system keeps one style.
std::string LineEndOf(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) return "\r\n";
    if (!line.empty() && line.back() == '\n') return "\n";
  }
  return "\n";
}

void Give(DestinationEntry* entry, const DestinationChange& change) {
  if (change.folder) entry->folder = *change.folder;
  if (change.description) entry->description = *change.description;
  if (change.accessCode) entry->accessCode = *change.accessCode;
  if (change.extensionLibrary) entry->extensionLibrary = *change.extensionLibrary;
}

// The new list belongs to whoever writes it (only root can give it to
// another account), and the service loads extension libraries only from a
// list owned by root or itself: a list that names one is left to those.
Outcome CheckListOwner(const std::string& text, const ServiceAccount& account) {
  const uint32_t self = CurrentAccount();
  if (self == 0 || self == account.uid) return Outcome::Done();
  for (const DestinationEntry& entry : ParseDestinationList(text)) {
    if (entry.extensionLibrary.empty()) continue;
    return Outcome::Refused(Refusal::kNotPermitted,
                            "the list names an extension library, and the service uses it only from a "
                            "list owned by root or " + account.name + "; written by " +
                                AccountName(self) + " it would be " + AccountName(self) + "'s",
                            "run the same command with sudo");
  }
  return Outcome::Done();
}

}  // namespace

std::string DestinationListPath() { return SharedDataFilePath(kDestinationListName); }

bool ReadDestinations(Env& env, std::vector<DestinationEntry>* entries, std::string* why) {
  entries->clear();
  std::string text;
  const FileResult read = ReadWholeFile(env, DestinationListPath(), &text);
  if (read.error() == FileError::kNotFound) return true;
  if (!read) {
    *why = "cannot read " + DestinationListPath() + ": " + read.Reason();
    return false;
  }
  *entries = ParseDestinationList(text);
  return true;
}

Outcome CheckDestinationChange(const DestinationChange& change, const ServiceAccount& account) {
  int number = 0;
  Outcome outcome = CheckDestinationNumber(change.numberText, &number);
  if (!outcome.ok()) return outcome;
  if (change.kind == DestinationChange::Kind::kRemove) return outcome;
  if (change.kind == DestinationChange::Kind::kAdd && !change.folder) {
    return Outcome::Refused(Refusal::kInvalid, "a new destination needs a folder");
  }
  if (change.folder) {
    outcome = CheckFolderText(*change.folder);
    if (outcome.ok()) outcome = CheckFolderUsable(*change.folder, account);
    if (!outcome.ok()) return outcome;
  }
  if (change.description && !(outcome = CheckDescription(*change.description)).ok()) return outcome;
  if (change.accessCode && !(outcome = CheckAccessCode(*change.accessCode)).ok()) return outcome;
  // Loaded last: the library's own start-up code runs in this process.
  if (change.extensionLibrary) return CheckExtensionLibrary(*change.extensionLibrary, account);
  return Outcome::Done();
}

Outcome EditDestinationText(const std::string& current, const DestinationChange& change,
                            std::string* updated) {
  int number = 0;
  Outcome outcome = CheckDestinationNumber(change.numberText, &number);
  if (!outcome.ok()) return outcome;
  const std::vector<std::string> lines = SplitTextLines(current, kListLineBuffer);
  const std::string lineEnd = LineEndOf(lines);
  const std::string label = "destination " + std::to_string(number);
  std::string newLine;  // the changed or added line, with its end

  updated->clear();
  bool found = false;
  for (const std::string& line : lines) {
    if (!SameNumber(line, number)) {
      *updated += line;
      continue;
    }
    if (change.kind == DestinationChange::Kind::kAdd) {
      return Outcome::Refused(Refusal::kListed, label + " is listed already",
                              "change it with: dest set " + std::to_string(number) + " ...");
    }
    // The receiver reads the first line of a number only; a later one with
    // the same number was never used, and a remove takes them all.
    if (!found && change.kind == DestinationChange::Kind::kSet) {
      DestinationEntry entry = *ParseDestinationLine(line);
      entry.number = number;
      Give(&entry, change);
      newLine = FormatDestinationLine(entry) + lineEnd;
      *updated += newLine;
    }
    found = true;
  }
  if (change.kind == DestinationChange::Kind::kAdd) {
    if (!updated->empty() && updated->back() != '\n') *updated += lineEnd;
    DestinationEntry entry;
    entry.number = number;
    Give(&entry, change);
    newLine = FormatDestinationLine(entry) + lineEnd;
    *updated += newLine;
  } else if (!found) {
    return Outcome::Refused(Refusal::kNotListed, label + " is not listed");
  }
  if (newLine.size() >= kListLineBuffer) {
    return Outcome::Refused(Refusal::kInvalid, "the line would be longer than the receiver reads (" +
                                                   std::to_string(kListLineBuffer - 1) + " bytes)");
  }
  return Outcome::Done();
}

Outcome ApplyDestinationChange(const DestinationChange& change, const ServiceAccount& account) {
  Outcome outcome = CheckDestinationChange(change, account);
  if (!outcome.ok()) return outcome;
  outcome = CheckMayWrite(DestinationListPath());
  if (!outcome.ok()) return outcome;
  GlobalLockGuard hold;
  std::string why;
  const ReplaceResult result = ReplaceFileLocked(
      DestinationListPath(),
      [&](const std::optional<std::string>& current, std::string* updated) {
        outcome = EditDestinationText(current.value_or(std::string()), change, updated);
        if (outcome.ok()) outcome = CheckListOwner(*updated, account);
        return outcome.ok();
      },
      true, &why);
  if (result == ReplaceResult::kFailed) return Outcome::Refused(Refusal::kFailed, why);
  return outcome;
}

}  // namespace qb
