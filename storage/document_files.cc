#include "storage/document_files.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "storage/destinations.h"
#include "storage/file_naming.h"
#include "storage/name_reservations.h"
#include "storage/path_parts.h"

namespace qb {
namespace {

constexpr char kStagingPrefix[] = ".qbx-";
constexpr char kStagingSuffix[] = ".part";

std::string FolderOfPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// ".qbx-<pid>-<serial>.part": the process id tells a later start whose
// file it was.
std::string NewStagingPath(const std::string& folder) {
  static std::atomic<uint64_t> serial{0};
  char name[64];
  std::snprintf(name, sizeof name, "%s%d-%llu%s", kStagingPrefix, CurrentProcessId(),
                static_cast<unsigned long long>(++serial), kStagingSuffix);
  return folder + name;
}

}  // namespace

std::string DocumentFiles::Begin(const std::string& finalPath) {
  Drop(finalPath);
  const std::string folder = FolderOfPath(finalPath);
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string staging = NewStagingPath(folder);
    if (CreateNewFile(staging)) {
      files_.push_back({finalPath, staging});
      return staging;
    }
    if (!FileExists(staging)) break;  // the folder refuses new files
  }
  return {};
}

std::string DocumentFiles::StagingPathOf(const std::string& finalPath) const {
  for (const File& file : files_) {
    if (file.finalPath == finalPath) return file.stagingPath;
  }
  return {};
}

void DocumentFiles::Rename(const std::string& from, const std::string& to) {
  if (from == to) return;
  Drop(to);
  for (File& file : files_) {
    if (file.finalPath == from) file.finalPath = to;
  }
}

void DocumentFiles::Drop(const std::string& finalPath) {
  std::erase_if(files_, [&](const File& file) {
    if (file.finalPath != finalPath) return false;
    RemoveFile(file.stagingPath);
    return true;
  });
}

void DocumentFiles::DropAll() {
  for (const File& file : files_) RemoveFile(file.stagingPath);
  files_.clear();
  NameReservations::Instance().Release(owner_);
}

bool DocumentFiles::PlaceOne(const File& file, bool overwrite,
                             std::vector<std::pair<std::string, std::string>>* moved) {
  MakeGroupWritable(file.stagingPath);  // whoever wrote it, the group may change it
  if (!SyncFile(file.stagingPath)) return false;
  if (overwrite) return RenameFile(file.stagingPath, file.finalPath);
  const std::string folder = FolderOfPath(file.finalPath);
  std::string target = file.finalPath;
  PlaceResult result;
  while ((result = RenameNoReplace(file.stagingPath, target)) == PlaceResult::kNameTaken) {
    // Someone outside the receiver took the name after it was chosen.
    const PathParts parts = SplitPath(target);
    target = MakeFreeExactName(folder, parts.baseName + parts.extension, 0, nullptr);
  }
  if (result != PlaceResult::kPlaced) return false;
  if (target != file.finalPath && moved != nullptr) moved->emplace_back(file.finalPath, target);
  return true;
}

bool DocumentFiles::Commit(bool overwrite,
                           std::vector<std::pair<std::string, std::string>>* moved) {
  bool ok = true;
  std::vector<std::string> folders;
  size_t done = 0;
  for (; done < files_.size(); ++done) {
    if (!PlaceOne(files_[done], overwrite, moved)) {
      ok = false;
      break;
    }
    const std::string folder = FolderOfPath(files_[done].finalPath);
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(folder);
    }
  }
  for (const std::string& folder : folders) {
    if (!SyncFolder(folder)) ok = false;
  }
  // Placed files are no longer ours to delete.
  files_.erase(files_.begin(), files_.begin() + static_cast<std::ptrdiff_t>(done));
  DropAll();
  return ok;
}

std::vector<std::string> DocumentFiles::CommitEach(
    bool overwrite, std::vector<std::pair<std::string, std::string>>* moved) {
  std::vector<std::string> failed;
  std::vector<std::string> folders;
  std::vector<File> left;
  for (const File& file : files_) {
    if (!PlaceOne(file, overwrite, moved)) {
      failed.push_back(file.finalPath);
      left.push_back(file);
      continue;
    }
    const std::string folder = FolderOfPath(file.finalPath);
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(folder);
    }
  }
  for (const std::string& folder : folders) SyncFolder(folder);
  files_ = std::move(left);
  DropAll();
  return failed;
}

int RemoveAbandonedStagingFiles(const std::string& folder) {
  std::vector<FolderEntry> entries;
  if (!ListFolder(folder, &entries)) return 0;
  const size_t prefixLength = std::strlen(kStagingPrefix);
  const size_t suffixLength = std::strlen(kStagingSuffix);
  int removed = 0;
  for (const FolderEntry& entry : entries) {
    const std::string& name = entry.name;
    if (entry.isDirectory || name.size() <= prefixLength + suffixLength ||
        name.compare(0, prefixLength, kStagingPrefix) != 0 ||
        name.compare(name.size() - suffixLength, suffixLength, kStagingSuffix) != 0) {
      continue;
    }
    const int pid = std::atoi(name.c_str() + prefixLength);
    if (pid == CurrentProcessId() || ProcessIsRunning(pid)) continue;
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    if (RemoveFile(path + name)) ++removed;
  }
  return removed;
}

int RemoveAbandonedStagingFilesInDestinations() {
  int removed = 0;
  for (const std::string& folder : DestinationFolders()) {
    removed += RemoveAbandonedStagingFiles(folder);
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, &entries)) continue;
    for (const FolderEntry& entry : entries) {
      if (entry.isDirectory) removed += RemoveAbandonedStagingFiles(folder + "/" + entry.name);
    }
  }
  return removed;
}

}  // namespace qb
