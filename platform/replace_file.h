// A file that readers take without a lock (the destination list, the
// tray's file) changed by several writers: each writer takes its turn on a
// lock file beside it (PATH.lock), reads the text, and puts a whole new
// file in its place, so a reader sees the old text or the new, never a mix,
// and no writer's change is lost to another's.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace qb {

// Given the current text (nullopt when the file is missing), sets the new
// text and returns true, or returns false to leave the file as it is.
using FileChange = std::function<bool(const std::optional<std::string>& current, std::string* updated)>;

enum class ReplaceResult { kReplaced, kLeft, kFailed };

// Runs `change` under the lock and, when it asks for it, writes the new
// text to PATH.new (mode 0660; with the old file's owner and group where
// this account may give them), syncs it when `sync`, and renames it over
// PATH. On kFailed, `why` (when given) says what failed.
ReplaceResult ReplaceFileLocked(const std::string& path, const FileChange& change, bool sync,
                                std::string* why = nullptr);

}  // namespace qb
