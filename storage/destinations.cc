#include "storage/destinations.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/folder_access.h"
#include "platform/global_lock.h"
#include "platform/profile.h"
#include "platform/system_log.h"
#include "platform/trace.h"
#include "storage/data_files.h"

namespace qb {
namespace {

// Lines are read in pieces of at most 519 characters; the remainder of a
// longer line is parsed as a line of its own, as the list's writer expects.
constexpr int kListLineBuffer = 520;
constexpr int kMaxProbeNames = 100;

// Whether a new file can be created in `folder`, and why not. The probe is
// created exclusively under a free name, so that an existing "test.txt" of
// the user is never truncated or deleted, and always removed again.
bool CanCreateFileIn(const std::string& folder, Env& env, std::string* why) {
  // An empty folder field would probe the file system root.
  if (folder.empty()) {
    *why = "no folder given";
    return false;
  }
  for (int i = 0; i < kMaxProbeNames; ++i) {
    std::string name = i == 0 ? "test.txt" : "test(" + std::to_string(i) + ").txt";
    std::string path = folder + "/" + name;
    std::unique_ptr<WritableFile> probe;
    FileResult created = env.NewWritableFile(path, CreateMode::kNewOnly, &probe);
    if (created.error() == FileError::kExists) continue;
    if (!created) {
      *why = "a file cannot be created there: " + created.Reason();
      return false;
    }
    probe->Close();
    env.Remove(path);
    return true;
  }
  *why = "no free name for the write test (test.txt to test(" + std::to_string(kMaxProbeNames - 1) +
         ").txt all exist)";
  return false;
}

// Told once per destination, folder and cause while the process runs: a
// printer that keeps trying does not fill the system log, and a new cause
// (the folder removed after being unwritable) is told again.
void ReportDestinationProblem(const std::string& numberText, const std::string& folder,
                              const std::string& why) {
  static std::mutex mutex;
  static std::set<std::string> told;
  const std::string text = "Destination " + numberText + " (" + folder + ") cannot be used: " + why;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (told.size() >= 256 || !told.insert(text).second) return;
  }
  TraceLog(" %s", text.c_str());
  ShowMessageBox(text.c_str(), "Quillbox");
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

bool LookupDestination(uint16_t number, DestinationRecord* record, Env& env) {
  GlobalLockGuard hold;
  std::vector<std::string> lines;
  if (!ReadSharedDataLines(env, kDestinationListName, kListLineBuffer, &lines)) return false;

  bool found = false;
  for (std::string& rest : lines) {
    // A NUL byte in the file ends the line's text, as for any C string.
    std::string numberText = SplitField(&rest);
    if (ParseLeadingInt(numberText.c_str()) != number) continue;
    record->numberText = numberText;
    record->folder = SplitField(&rest);
    SplitField(&rest);
    record->accessCode = SplitField(&rest);
    record->extensionLibrary = SplitField(&rest);
    std::string why;
    found = CanCreateFileIn(record->folder, env, &why);
    if (found && !IsFolderReachable(record->folder)) {
      found = false;
      why = "the folder cannot be entered";
    }
    if (!found) ReportDestinationProblem(record->numberText, record->folder, why);
    return found;
  }
  return false;
}

bool IsFolderReachable(const std::string& folder) { return CanEnterFolder(folder); }

std::vector<std::string> ListSubfolders(const std::string& folder, Env& env) {
  std::vector<std::string> names;
  std::vector<FolderEntry> entries;
  if (!CanEnterFolder(folder) || !env.ListFolder(folder, &entries)) return names;
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

std::vector<std::string> DestinationFolders(Env& env) {
  std::vector<std::string> folders;
  GlobalLockGuard hold;
  std::vector<std::string> lines;
  if (!ReadSharedDataLines(env, kDestinationListName, kListLineBuffer, &lines)) return folders;
  for (std::string& rest : lines) {
    SplitField(&rest);
    std::string folder = SplitField(&rest);
    if (!folder.empty()) folders.push_back(folder);
  }
  return folders;
}

bool IsWithinDestinations(const std::string& path, Env& env) {
  for (const std::string& folder : DestinationFolders(env)) {
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
