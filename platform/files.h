// File services beyond the C library: creation for the program's account
// and group, attributes, and folder walks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qb {

// Creates the file when missing (mode 0660 whatever the umask: the account
// and its group, never others; an existing file keeps its mode), then opens
// it with the C library in `mode` ("rt", "wt+", "at+", "rb", ...). Null on
// failure.
std::FILE* OpenGroupWritable(const std::string& path, const char* mode);

// The folder a path names an entry of: "." for a bare name, "/" for an
// entry of the root.
std::string FolderOf(const std::string& path);

bool FileExists(const std::string& path);  // any kind of entry
bool IsDirectory(const std::string& path);
bool IsReadOnlyFile(const std::string& path);  // owner write bit missing
bool MakeWritable(const std::string& path);    // adds the owner write bit
bool RemoveFile(const std::string& path);
// Renames; replaces an existing `to` (used only where the target is a
// placeholder of our own).
bool RenameFile(const std::string& from, const std::string& to);

// Result of putting a file in place without replacing anything.
enum class PlaceResult { kPlaced, kNameTaken, kFailed };
// Gives `from` the name `to` unless `to` exists already (as a rename on
// Windows does): renameat2 with RENAME_NOREPLACE, or link and unlink where
// the file system lacks it.
PlaceResult RenameNoReplace(const std::string& from, const std::string& to);

// Creates a new empty file for the account and its group (0660), failing
// when the name exists. False on failure.
bool CreateNewFile(const std::string& path);
// Makes a file's content durable (fsync); false on failure.
bool SyncFile(const std::string& path);
// Makes a folder's entries durable (fsync of the folder); false on failure.
bool SyncFolder(const std::string& path);
// Gives a file mode 0660 (account and group may write, others nothing)
// whatever the umask.
bool MakeGroupWritable(const std::string& path);
// Size in bytes, or -1 when it cannot be read.
int64_t FileSize(const std::string& path);

// Modification time (nanoseconds since 1970) of the entry at `path` itself,
// a symbolic link not followed, and whether it is a regular file. False
// when the entry cannot be read.
bool EntryModified(const std::string& path, int64_t* modifiedNs, bool* regularFile);

struct FolderEntry {
  std::string name;
  bool isDirectory;
};
// The entries of a folder except "." and ".."; false when it cannot be read.
bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries);

}  // namespace qb

namespace qb {

// This process's id, and whether a process of that id is running.
int CurrentProcessId();
bool ProcessIsRunning(int pid);

// A short name of this machine, letters and digits only, for files that
// machines sharing a folder must tell apart: QUILLBOX_HOST_ID when set
// (letters and digits, at most 32), else the first 12 digits of
// /etc/machine-id, else the host name without its other characters, else
// "host".
std::string HostIdentity();

}  // namespace qb
