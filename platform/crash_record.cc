#include "platform/crash_record.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/posix_file.h"

namespace qb {
namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

void Restore(const std::string& path, const std::string& content) {
  std::unique_ptr<WritableFile> file;
  if (OpenPosixWritable(path, CreateMode::kTruncate, 0, &file))
    file->Append(content.data(), content.size());
}

}  // namespace

std::string CrashRecord::FolderOf(const std::string& path) {
  return ::qb::FolderOf(WithoutTrailingSlash(path));
}

std::shared_ptr<CrashRecord::FileState> CrashRecord::Opened(const std::string& path, bool existed,
                                                            bool truncated, uint64_t size) {
  if (!existed) new_files_.insert(path);
  std::shared_ptr<FileState>& state = files_[path];
  if (state == nullptr) {
    state = std::make_shared<FileState>();
    // Content from before it was tracked is taken as durable.
    state->synced = truncated ? 0 : size;
  }
  if (truncated) state->synced = 0;
  state->size = size;
  return state;
}

void CrashRecord::Renamed(const std::string& from, const std::string& to,
                          std::optional<std::string> replaced) {
  auto moved = files_.find(from);
  if (moved != files_.end()) {
    files_[to] = moved->second;
    files_.erase(moved);
  } else {
    files_.erase(to);
  }
  const bool fromIsNew = new_files_.count(from) != 0;
  const bool replacedOld = replaced.has_value() && new_files_.count(to) == 0;
  if (fromIsNew && !replacedOld) {
    // Only a new entry under another name: gone at a crash unless its
    // new folder is synced.
    new_files_.erase(from);
    new_files_.insert(to);
    return;
  }
  renames_.push_back({from, to, std::move(replaced)});
}

void CrashRecord::Removed(const std::string& path) {
  files_.erase(path);
  new_files_.erase(path);
}

void CrashRecord::FolderSynced(const std::string& folder) {
  const std::string synced = WithoutTrailingSlash(folder.empty() ? "." : folder);
  for (auto it = new_files_.begin(); it != new_files_.end();) {
    it = FolderOf(*it) == synced ? new_files_.erase(it) : std::next(it);
  }
  for (auto it = renames_.begin(); it != renames_.end();) {
    if (FolderOf(it->to) != synced) {
      ++it;
      continue;
    }
    // A new file renamed over an old one stays marked new under its old
    // name only for the undo; that name is gone now.
    new_files_.erase(it->from);
    it = renames_.erase(it);
  }
}

void CrashRecord::Crash() {
  for (auto it = renames_.rbegin(); it != renames_.rend(); ++it) {
    if (::rename(it->to.c_str(), it->from.c_str()) == 0) {
      auto moved = files_.find(it->to);
      if (moved != files_.end()) {
        files_[it->from] = moved->second;
        files_.erase(moved);
      }
    }
    if (it->replaced) Restore(it->to, *it->replaced);
  }
  for (const auto& [path, state] : files_) {
    // Cut, never grown: a file rewritten behind this Env's back is shorter.
    struct stat info;
    if (new_files_.count(path) == 0 && ::stat(path.c_str(), &info) == 0 &&
        static_cast<uint64_t>(info.st_size) > state->synced) {
      ::truncate(path.c_str(), static_cast<off_t>(state->synced));
    }
  }
  for (const std::string& path : new_files_) ::unlink(path.c_str());
  files_.clear();
  new_files_.clear();
  renames_.clear();
}

}  // namespace qb
