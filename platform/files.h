// File services beyond the C library: creation that every user may write,
// attributes, and folder walks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qb {

// Creates the file when missing (mode 0666 whatever the umask; an existing
// file keeps its mode), then opens it with the C library in `mode`
// ("rt", "wt+", "at+", "rb", ...). Null on failure.
std::FILE* OpenEveryoneWritable(const std::string& path, const char* mode);

bool FileExists(const std::string& path);  // any kind of entry
bool IsDirectory(const std::string& path);
bool IsReadOnlyFile(const std::string& path);  // owner write bit missing
bool MakeWritable(const std::string& path);    // adds the owner write bit
bool RemoveFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
// Size in bytes, or -1 when it cannot be read.
int64_t FileSize(const std::string& path);

struct FolderEntry {
  std::string name;
  bool isDirectory;
};
// The entries of a folder except "." and ".."; false when it cannot be read.
bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries);

}  // namespace qb
