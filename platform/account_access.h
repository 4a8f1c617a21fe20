// What another account may do with a folder: the receiver runs as its own
// account, so a folder the administrator can write may still refuse it.
// The owner, group and other bits of the folder and of every folder above
// it are read as that account's rights (access control lists are not
// looked at).
#pragma once

#include <cstdint>
#include <string>

namespace qb {

// The account this process runs as, and its group.
uint32_t CurrentAccount();
uint32_t CurrentGroup();
// The owner and group of the entry at `path` (symbolic links followed);
// false when it cannot be read.
bool OwnerOf(const std::string& path, uint32_t* uid, uint32_t* gid);
// Names from the user database; the number in decimal when it has none.
std::string AccountName(uint32_t uid);
std::string GroupName(uint32_t gid);

enum class FolderUse {
  kUsable,       // exists, can be entered and written by the account
  kMissing,      // `blocking` is the first part of the path that does not exist
  kNotFolder,    // `blocking` exists but is no folder
  kCannotEnter,  // the account may not pass through `blocking`
  kCannotWrite,  // the account may not create files in the folder
};

struct FolderUseCheck {
  FolderUse use = FolderUse::kUsable;
  std::string blocking;  // the folder the problem is at
};

// Whether the account `uid`, running with the group `gid` (and the groups
// the user database gives it, where it knows the account), could create
// files in the absolute `folder`.
FolderUseCheck CheckFolderUse(const std::string& folder, uint32_t uid, uint32_t gid);

}  // namespace qb
