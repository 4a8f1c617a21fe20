#include "storage/destinations.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/files.h"
#include "platform/folder_access.h"
#include "platform/global_lock.h"
#include "platform/profile.h"
#include "storage/data_files.h"

namespace qb {
namespace {

// Lines are read in pieces of at most 519 characters; the remainder of a
// longer line is parsed as a line of its own, as the list's writer expects.
constexpr int kListLineBuffer = 520;
constexpr int kMaxProbeNames = 100;

// Whether a new file can be created in `folder`. The probe is created
// exclusively under a free name, so that an existing "test.txt" of the user
// is never truncated or deleted, and always removed again.
bool CanCreateFileIn(const std::string& folder) {
  // An empty folder field would probe the file system root.
  if (folder.empty()) return false;
  for (int i = 0; i < kMaxProbeNames; ++i) {
    std::string name = i == 0 ? "test.txt" : "test(" + std::to_string(i) + ").txt";
    std::string path = folder + "/" + name;
    if (FileExists(path)) continue;
    std::FILE* probe = std::fopen(path.c_str(), "wx");
    if (probe == nullptr) return false;
    std::fclose(probe);
    RemoveFile(path);
    return true;
  }
  return false;
}

}  // namespace

std::string SplitField(std::string* rest) {
  size_t separator = rest->find(';');
  std::string field;
  if (separator == std::string::npos) {
    field = *rest;
    while (!field.empty() && (field.back() == '\n' || field.back() == '\r')) field.pop_back();
    rest->clear();
  } else {
    field = rest->substr(0, separator);
    rest->erase(0, separator + 1);
  }
  return field;
}

bool LookupDestination(uint16_t number, DestinationRecord* record) {
  GlobalLockGuard hold;
  std::FILE* list = OpenSharedDataFile(kDestinationListName, "rt");
  if (list == nullptr) return false;

  bool found = false;
  char line[kListLineBuffer];
  while (std::fgets(line, sizeof line, list) != nullptr) {
    // A NUL byte in the file ends the line's text, as for any C string.
    std::string rest = line;
    std::string numberText = SplitField(&rest);
    if (ParseLeadingInt(numberText.c_str()) != number) continue;
    record->numberText = numberText;
    record->folder = SplitField(&rest);
    SplitField(&rest);
    record->accessCode = SplitField(&rest);
    record->extensionLibrary = SplitField(&rest);
    found = CanCreateFileIn(record->folder);
    break;
  }
  std::fclose(list);
  return found && IsFolderReachable(record->folder);
}

bool IsFolderReachable(const std::string& folder) { return CanEnterFolder(folder); }

std::vector<std::string> ListSubfolders(const std::string& folder) {
  std::vector<std::string> names;
  std::vector<FolderEntry> entries;
  if (!CanEnterFolder(folder) || !ListFolder(folder, &entries)) return names;
  for (const FolderEntry& entry : entries) {
    if (entry.isDirectory && !entry.name.empty() && entry.name[0] != '.') {
      names.push_back(entry.name);
    }
  }
  std::sort(names.begin(), names.end());
  // Every Linux folder has a parent entry, which the file system reports.
  names.insert(names.begin(), "..");
  return names;
}

std::vector<std::string> DestinationFolders() {
  std::vector<std::string> folders;
  GlobalLockGuard hold;
  std::FILE* list = OpenSharedDataFile(kDestinationListName, "rt");
  if (list == nullptr) return folders;
  char line[kListLineBuffer];
  while (std::fgets(line, sizeof line, list) != nullptr) {
    std::string rest = line;
    SplitField(&rest);
    std::string folder = SplitField(&rest);
    if (!folder.empty()) folders.push_back(folder);
  }
  std::fclose(list);
  return folders;
}

bool IsWithinDestinations(const std::string& path) {
  for (const std::string& folder : DestinationFolders()) {
    if (IsWithinFolder(path, folder)) return true;
  }
  return false;
}

bool IsWithinFolder(const std::string& path, const std::string& folder) {
  namespace fs = std::filesystem;
  if (path.empty() || folder.empty()) return false;
  std::error_code error;
  const std::string target = fs::weakly_canonical(fs::path(path), error).string();
  if (error) return false;
  std::string base = fs::weakly_canonical(fs::path(folder), error).string();
  if (error || base.empty()) return false;
  if (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") return true;
  return target == base || target.compare(0, base.size() + 1, base + "/") == 0;
}

}  // namespace qb
