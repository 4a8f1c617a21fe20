#include "platform/account_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace qb {
namespace {

struct Identity {
  uint32_t uid = 0;
  std::vector<gid_t> groups;  // primary first
};

// The account with `gid` first; a service runs with its unit's group even
// where this machine's user database does not know the account.
Identity IdentityOf(uint32_t uid, uint32_t gid) {
  Identity identity;
  identity.uid = uid;
  identity.groups.push_back(gid);
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return identity;
  }
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    ::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count);
  }
  groups.resize(static_cast<size_t>(std::max(count, 0)));
  identity.groups.insert(identity.groups.end(), groups.begin(), groups.end());
  return identity;
}

// The permission bits of `info` that apply to the account: owner, group or
// other, whichever class it falls in first.
unsigned RightsOf(const struct stat& info, const Identity& identity) {
  if (identity.uid == 0) return 07;
  if (info.st_uid == identity.uid) return (info.st_mode >> 6) & 07;
  for (gid_t group : identity.groups) {
    if (group == info.st_gid) return (info.st_mode >> 3) & 07;
  }
  return info.st_mode & 07;
}

}  // namespace

uint32_t CurrentAccount() { return ::geteuid(); }
uint32_t CurrentGroup() { return ::getegid(); }

bool OwnerOf(const std::string& path, uint32_t* uid, uint32_t* gid) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  *uid = info.st_uid;
  *gid = info.st_gid;
  return true;
}

std::string AccountName(uint32_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return entry.pw_name;
  }
  return std::to_string(uid);
}

std::string GroupName(uint32_t gid) {
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(65536);
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return entry.gr_name;
  }
  return std::to_string(gid);
}

FolderUseCheck CheckFolderUse(const std::string& folder, uint32_t uid, uint32_t gid) {
  const Identity identity = IdentityOf(uid, gid);
  FolderUseCheck check;
  // Every folder on the way must let the account pass (x); the last one
  // must also let it add entries (w).
  size_t at = 0;
  while (at != std::string::npos) {
    const size_t next = folder.find('/', at + 1);
    // g++ 12 at -O2 mistakes `part = "/"` for an overlapping copy (-Wrestrict).
    std::string part = folder.substr(0, next);
    if (part.empty()) part.assign(1, '/');
    struct stat info;
    if (::stat(part.c_str(), &info) != 0) return {FolderUse::kMissing, part};
    if (!S_ISDIR(info.st_mode)) return {FolderUse::kNotFolder, part};
    const unsigned rights = RightsOf(info, identity);
    if ((rights & 01) == 0) return {FolderUse::kCannotEnter, part};
    if (next == std::string::npos && (rights & 02) == 0) return {FolderUse::kCannotWrite, part};
    at = next;
  }
  return check;
}

}  // namespace qb
