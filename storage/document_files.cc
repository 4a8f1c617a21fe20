#include "storage/document_files.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// ".qbx-<host>-<pid>-<serial>.part": the host and the process id tell a
// later start whose file it was. A folder on a file server may be shared
// by receivers on several machines, and a process id means something only
// on its own machine.
std::string NewStagingPath(const std::string& folder) {
  static const std::string host = HostIdentity();
  static std::atomic<uint64_t> serial{0};
  char name[96];
  std::snprintf(name, sizeof name, "%s%s-%d-%llu%s", kStagingPrefix, host.c_str(),
                CurrentProcessId(), static_cast<unsigned long long>(++serial), kStagingSuffix);
  return folder + name;
}

// The process that left a staging file of this machine, or 0 when the file
// is another machine's (or no staging file at all). Names from before the
// host was part of them (".qbx-<pid>-<serial>.part") count as this
// machine's.
int StagingOwnerHere(const std::string& name, const std::string& host) {
  const size_t prefixLength = std::strlen(kStagingPrefix);
  const size_t suffixLength = std::strlen(kStagingSuffix);
  if (name.size() <= prefixLength + suffixLength || name.compare(0, prefixLength, kStagingPrefix) != 0 ||
      name.compare(name.size() - suffixLength, suffixLength, kStagingSuffix) != 0) {
    return 0;
  }
  const std::string middle = name.substr(prefixLength, name.size() - prefixLength - suffixLength);
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    const size_t dash = middle.find('-', start);
    fields.push_back(middle.substr(start, dash == std::string::npos ? std::string::npos : dash - start));
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  if (fields.size() == 3 && fields[0] != host) return 0;
  if (fields.size() != 2 && fields.size() != 3) return 0;
  const std::string& pid = fields[fields.size() - 2];
  if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::atoi(pid.c_str());
}

}  // namespace

std::string DocumentFiles::NewStagingFile(const std::string& folder,
                                          std::unique_ptr<WritableFile>* writer, FileResult* why) {
  FileResult result;
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string staging = NewStagingPath(folder);
    std::unique_ptr<WritableFile> file;
    // A file handed back through `writer` is an upload arriving from the
    // network; one only named here is written later by its owner.
    result = writer != nullptr ? env_->NewStreamFile(staging, &file)
                               : env_->NewWritableFile(staging, CreateMode::kNewOnly, &file);
    if (result.ok()) {
      if (writer != nullptr) {
        *writer = std::move(file);
      } else {
        file->Close();
      }
      return staging;
    }
    // Only a leftover of the same name is worth another try.
    if (result.error() != FileError::kExists) break;
  }
  if (why != nullptr) *why = result;
  return {};
}

std::string DocumentFiles::Begin(const std::string& finalPath) {
  Drop(finalPath);
  std::string staging = NewStagingFile(FolderOfPath(finalPath), nullptr, nullptr);
  if (!staging.empty()) files_.push_back({finalPath, staging});
  return staging;
}

std::string DocumentFiles::BeginUnnamed(const std::string& folder,
                                        std::unique_ptr<WritableFile>* writer, FileResult* why) {
  std::string prefix = folder;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  std::string staging = NewStagingFile(prefix, writer, why);
  if (!staging.empty()) files_.push_back({staging, staging});
  return staging;
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
    env_->Remove(file.stagingPath);
    return true;
  });
}

void DocumentFiles::DropAll() {
  for (const File& file : files_) env_->Remove(file.stagingPath);
  files_.clear();
  NameReservations::Instance().Release(owner_);
}

// Content durable first, then the name: a crash can never leave a final
// name on a file whose bytes are not all on disk.
bool DocumentFiles::PlaceOne(const File& file, bool overwrite,
                             std::vector<std::pair<std::string, std::string>>* moved) {
  std::unique_ptr<WritableFile> handle;
  if (!env_->NewWritableFile(file.stagingPath, CreateMode::kAppend, &handle).ok() ||
      !handle->Sync().ok() || !handle->Close().ok()) {
    return false;
  }
  if (overwrite) return env_->Rename(file.stagingPath, file.finalPath).ok();
  const std::string folder = FolderOfPath(file.finalPath);
  std::string target = file.finalPath;
  FileResult result;
  while ((result = env_->RenameNoReplace(file.stagingPath, target)).error() == FileError::kExists) {
    // Someone outside the receiver took the name after it was chosen.
    const PathParts parts = SplitPath(target);
    target = MakeFreeExactName(folder, parts.baseName + parts.extension, 0, nullptr, *env_);
  }
  if (!result.ok()) return false;
  if (target != file.finalPath && moved != nullptr) moved->emplace_back(file.finalPath, target);
  return true;
}

bool DocumentFiles::SyncFolders(const std::vector<std::string>& folders) {
  bool ok = true;
  for (const std::string& folder : folders) {
    if (!env_->SyncFolder(folder).ok()) ok = false;
  }
  return ok;
}

namespace {

void AddOnce(std::vector<std::string>* folders, const std::string& folder) {
  if (std::find(folders->begin(), folders->end(), folder) == folders->end()) {
    folders->push_back(folder);
  }
}

}  // namespace

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
    AddOnce(&folders, FolderOfPath(files_[done].finalPath));
  }
  if (!SyncFolders(folders)) ok = false;
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
  std::vector<std::string> placed;
  for (const File& file : files_) {
    if (!PlaceOne(file, overwrite, moved)) {
      failed.push_back(file.finalPath);
      left.push_back(file);
      continue;
    }
    placed.push_back(file.finalPath);
    AddOnce(&folders, FolderOfPath(file.finalPath));
  }
  // A folder whose new entries cannot be made durable: its files may still
  // vanish in a power loss, so they count as not stored.
  for (const std::string& folder : folders) {
    if (env_->SyncFolder(folder).ok()) continue;
    for (const std::string& path : placed) {
      if (FolderOfPath(path) == folder) failed.push_back(path);
    }
  }
  files_ = std::move(left);
  DropAll();
  return failed;
}

int RemoveAbandonedStagingFiles(Env& env, const std::string& folder) {
  std::vector<FolderEntry> entries;
  if (!env.ListFolder(folder, &entries).ok()) return 0;
  const std::string host = HostIdentity();
  int removed = 0;
  for (const FolderEntry& entry : entries) {
    const std::string& name = entry.name;
    if (entry.isDirectory) continue;
    const int pid = StagingOwnerHere(name, host);
    if (pid <= 0 || pid == CurrentProcessId() || ProcessIsRunning(pid)) continue;
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    if (env.Remove(path + name).ok()) ++removed;
  }
  return removed;
}

int RemoveAbandonedStagingFilesInDestinations(Env& env) {
  int removed = 0;
  for (const std::string& folder : DestinationFolders(env)) {
    removed += RemoveAbandonedStagingFiles(env, folder);
    std::vector<FolderEntry> entries;
    if (!env.ListFolder(folder, &entries).ok()) continue;
    for (const FolderEntry& entry : entries) {
      if (entry.isDirectory) removed += RemoveAbandonedStagingFiles(env, folder + "/" + entry.name);
    }
  }
  return removed;
}

}  // namespace qb
