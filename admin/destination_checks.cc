#include "admin/destination_checks.h"

#include "platform/account_access.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/local_trust.h"
#include "storage/extension_api.h"

namespace qb {
namespace {

bool AllDigits(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A ";" would start another field and a line break another destination;
// other control characters have no place in a file name or a label.
bool HoldsSeparator(const std::string& text) {
  for (unsigned char c : text) {
    if (c == ';' || c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

Outcome Invalid(std::string reason, std::string fix = {}) {
  return Outcome::Refused(Refusal::kInvalid, std::move(reason), std::move(fix));
}

std::string Quoted(const std::string& path) {
  for (char c : path) {
    if (c == ' ' || c == '\'' || c == '"' || c == '$' || c == '\\' || c == '`') {
      std::string quoted = "'";
      for (char d : path) quoted += d == '\'' ? std::string("'\\''") : std::string(1, d);
      return quoted + "'";
    }
  }
  return path;
}

// The smallest change of mode that gives the account `rights` on
// `folder`: its owner's or group's bits where it already owns the folder
// or shares its group, else the folder goes to the account's group (kept
// by new sub-folders), or `otherRights` for all when that is enough (a
// folder to pass through, such as /srv).
std::string RightsFix(const std::string& folder, const ServiceAccount& account,
                      const std::string& rights, const std::string& otherRights) {
  const std::string path = Quoted(folder);
  uint32_t owner = 0, group = 0;
  if (OwnerOf(folder, &owner, &group)) {
    if (owner == account.uid) return "chmod u+" + rights + " " + path;
    if (group == account.gid) return "chmod g+" + rights + " " + path;
  }
  if (!otherRights.empty()) return "chmod " + otherRights + " " + path;
  return "chgrp " + account.group + " " + path + " && chmod g+" + rights + "s " + path;
}

}  // namespace

Outcome CheckDestinationNumber(const std::string& text, int* number) {
  const std::string range =
      std::to_string(kLowestDestination) + " to " + std::to_string(kHighestDestination);
  if (text.empty() || !AllDigits(text) || text.size() > 5) {
    return Invalid("destination number \"" + text + "\" is not a number from " + range);
  }
  const int value = std::stoi(text);
  if (value < kLowestDestination || value > kHighestDestination) {
    return Invalid("destination number " + text + " is outside " + range);
  }
  *number = value;
  return Outcome::Done();
}

Outcome CheckFolderText(const std::string& folder) {
  if (folder.empty() || folder[0] != '/') {
    return Invalid("folder \"" + folder + "\" is not an absolute path (it must start with /)");
  }
  if (folder.size() > 1 && folder.back() == '/') {
    return Invalid("folder \"" + folder + "\" ends with /", "write it without the trailing /");
  }
  if (folder == "/") return Invalid("the root folder / cannot be a destination");
  if (HoldsSeparator(folder)) {
    return Invalid("folder \"" + folder + "\" holds a ; or a control character, which the list cannot hold");
  }
  if (folder.size() > kFolderBytesMax) {
    return Invalid("folder is " + std::to_string(folder.size()) + " bytes long; the receiver takes at most " +
                   std::to_string(kFolderBytesMax));
  }
  return Outcome::Done();
}

Outcome CheckFolderUsable(const std::string& folder, const ServiceAccount& account) {
  const FolderUseCheck check = CheckFolderUse(folder, account.uid, account.gid);
  const std::string who = "the receiver's account " + account.name;
  const std::string path = Quoted(folder);  // for a command to paste
  switch (check.use) {
    case FolderUse::kUsable:
      return Outcome::Done();
    case FolderUse::kMissing:
      return Invalid("folder " + folder + " does not exist" +
                         (check.blocking == folder ? "" : " (" + check.blocking + " is missing)"),
                     "install -d -o " + account.name + " -g " + account.group + " -m 2770 " + path);
    case FolderUse::kNotFolder:
      return Invalid(check.blocking + " is not a folder");
    case FolderUse::kCannotEnter:
      return Invalid(who + " cannot pass through " + check.blocking,
                     RightsFix(check.blocking, account, "x", "o+x"));
    case FolderUse::kCannotWrite:
      return Invalid(who + " cannot create files in " + folder, RightsFix(folder, account, "rwx", ""));
  }
  return Outcome::Done();
}

Outcome CheckAccessCode(const std::string& code) {
  if (!AllDigits(code) || code.size() > kAccessCodeDigitsMax) {
    return Invalid("access code \"" + code + "\" is not up to " + std::to_string(kAccessCodeDigitsMax) +
                   " digits (0-9)");
  }
  return Outcome::Done();
}

Outcome CheckDescription(const std::string& description) {
  if (HoldsSeparator(description)) {
    return Invalid("description holds a ; or a control character, which the list cannot hold");
  }
  return Outcome::Done();
}

Outcome CheckExtensionLibrary(const std::string& path, const ServiceAccount& account) {
  if (path.empty()) return Outcome::Done();  // no library
  if (path[0] != '/') return Invalid("extension library \"" + path + "\" is not an absolute path");
  if (HoldsSeparator(path)) {
    return Invalid("extension library path holds a ; or a control character");
  }
  if (!FileExists(path)) return Invalid("extension library " + path + " does not exist");
  // Checked before it is loaded: loading runs the library's own code.
  const std::string distrust = ProgramDistrust(path, "", account.uid);
  if (!distrust.empty()) {
    return Invalid("the service would refuse to load extension library " + path + ": " + distrust,
                   "chown root:root " + Quoted(path) + " && chmod go-w " + Quoted(path) +
                       " (and its folder)");
  }
  DynamicLibrary library(path);
  if (!library.IsLoaded()) {
    return Invalid("extension library " + path + " does not load: " + library.Error());
  }
  if (library.Symbol(QUERN_EXT_EXPORT_NAME) == nullptr) {
    return Invalid("extension library " + path + " does not export " + QUERN_EXT_EXPORT_NAME +
                   ", the function the receiver calls");
  }
  return Outcome::Done();
}

}  // namespace qb
