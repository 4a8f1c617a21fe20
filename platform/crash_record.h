// The bookkeeping behind FaultEnv's simulated power loss. The page cache
// outlives a killed process but not a power loss: then a file keeps only
// the bytes that were synced, and a folder only the entries it had at its
// last sync. This records, per name, what a power loss would take back,
// and takes it back on Crash.
//
// Files are followed by name: a folder renamed with tracked files inside,
// a removal or a new folder are not taken back. Not thread-safe: FaultEnv
// holds its lock around every call.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qb {

class CrashRecord {
 public:
  // Shared with the open file, which keeps it up to date; a rename moves
  // it to the new name.
  struct FileState {
    uint64_t size = 0;
    uint64_t synced = 0;
  };

  // A file opened for writing at `path`: `existed` before the open, empties
  // it when `truncated`; `size` after the open.
  std::shared_ptr<FileState> Opened(const std::string& path, bool existed, bool truncated,
                                    uint64_t size);
  // `from` was renamed to `to`; `replaced` holds the content of the file
  // that `to` named before, if any.
  void Renamed(const std::string& from, const std::string& to, std::optional<std::string> replaced);
  void Removed(const std::string& path);
  void FolderSynced(const std::string& folder);

  // Takes back what a power loss would have lost, then forgets everything
  // (the next process starts from what is on the disk).
  void Crash();

  // The folder holding `path` ("." for a bare name), without a trailing "/".
  static std::string FolderOf(const std::string& path);

 private:
  struct PendingRename {
    std::string from;
    std::string to;
    std::optional<std::string> replaced;
  };

  std::map<std::string, std::shared_ptr<FileState>> files_;
  std::set<std::string> new_files_;     // created since their folder's last sync
  std::vector<PendingRename> renames_;  // in the order they happened
};

}  // namespace qb
