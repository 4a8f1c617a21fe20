#include "platform/local_trust.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/places.h"
#include "platform/system_log.h"
#include "platform/trace.h"

namespace qb {
namespace {

// A member's rights follow the user database within this time.
constexpr int64_t kMembershipKeptMs = 60 * 1000;
constexpr size_t kMembershipSlots = 32;

struct Membership {
  uint32_t uid = 0;
  uint32_t group = 0;
  bool member = false;
  int64_t checkedMs = -1;
};

std::mutex g_membership_mutex;
Membership g_memberships[kMembershipSlots];
std::atomic<bool> g_require_trusted_programs{false};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Whether the user database puts `uid` in `group` (primary or
// supplementary).
bool LookUpMembership(uint32_t uid, uint32_t group) {
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return false;
  }
  if (found->pw_gid == group) return true;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
    if (count <= 0 || count > 65536) return false;
    groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return false;
  }
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<size_t>(i)] == group) return true;
  }
  return false;
}

bool IsMember(uint32_t uid, uint32_t group) {
  const int64_t now = NowMs();
  std::lock_guard<std::mutex> lock(g_membership_mutex);
  Membership* oldest = &g_memberships[0];
  for (Membership& slot : g_memberships) {
    if (slot.checkedMs >= 0 && slot.uid == uid && slot.group == group &&
        now - slot.checkedMs < kMembershipKeptMs) {
      return slot.member;
    }
    if (slot.checkedMs < oldest->checkedMs) oldest = &slot;
  }
  *oldest = {uid, group, LookUpMembership(uid, group), now};
  return oldest->member;
}

// Owned by root or `account` and not writable by others.
bool IsTightOwnFile(const struct stat& info, uint32_t account) {
  const bool ownOwner = info.st_uid == 0 || info.st_uid == account;
  return ownOwner && (info.st_mode & S_IWOTH) == 0;
}

// The reason `path` may not be trusted by `account`, or empty when it may.
std::string Distrust(const std::string& path, bool regularFile, uint32_t account) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return path + ": " + std::strerror(errno);
  if (regularFile && !S_ISREG(info.st_mode)) return path + " is not a regular file";
  if (!IsTightOwnFile(info, account)) {
    return path + " is owned by uid " + std::to_string(info.st_uid) +
           ((info.st_mode & S_IWOTH) != 0 ? " and writable by others" : "") +
           " (only root or this account's files are used)";
  }
  return "";
}

}  // namespace

uint32_t ProgramGroup() {
  struct stat info;
  if (::stat(RunFolder().c_str(), &info) == 0) return static_cast<uint32_t>(info.st_gid);
  return static_cast<uint32_t>(::getegid());
}

bool IsTrustedAccount(uint32_t uid, uint32_t gid) {
  if (uid == 0 || uid == static_cast<uint32_t>(::geteuid())) return true;
  const uint32_t group = ProgramGroup();
  if (gid == group) return true;
  return IsMember(uid, group);
}

Tighten TightenOtherWrite(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) return Tighten::kAlreadyTight;
  if ((info.st_mode & S_IWOTH) == 0) return Tighten::kAlreadyTight;
  if (::chmod(path.c_str(), (info.st_mode & 07777) & ~static_cast<mode_t>(S_IWOTH)) != 0) {
    return Tighten::kFailed;
  }
  return Tighten::kTightened;
}

void RequireTrustedPrograms(bool on) { g_require_trusted_programs = on; }
bool TrustedProgramsRequired() { return g_require_trusted_programs; }

std::string ProgramDistrust(const std::string& path, const std::string& namedBy, uint32_t account) {
  if (path.empty() || path[0] != '/') return "'" + path + "' is not an absolute path";
  std::string why = Distrust(path, true, account);
  if (why.empty()) why = Distrust(FolderOf(path), false, account);
  if (why.empty() && !namedBy.empty()) why = Distrust(namedBy, true, account);
  return why;
}

bool MayRunProgram(const std::string& path, const std::string& namedBy) {
  if (!g_require_trusted_programs) return true;
  const std::string why = ProgramDistrust(path, namedBy, ::geteuid());
  if (why.empty()) return true;
  const std::string text = "Refused to run " + path + ": " + why;
  TraceLog(" %s", text.c_str());
  LogSystemError(text.c_str());
  return false;
}

}  // namespace qb
