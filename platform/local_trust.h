// Who may use the receiver on a shared machine: its own account, root and
// the members of its group may read, change and command it; nobody else.
// The modes of what it creates, the check of a message's sender, and the
// check of a program or library before it is run in the service's name.
#pragma once

#include <cstdint>
#include <string>

namespace qb {

// Mode of every file the receiver creates (settings, lists, logs, shared
// records, endpoints, received documents): the account and its group.
constexpr unsigned kGroupFileMode = 0660;
// Mode of a folder it creates under the run-time folder: new entries keep
// the group (set-group-id bit), others cannot enter.
constexpr unsigned kGroupFolderMode = 02770;

// The program's group: the group of the run-time folder R/run/quillbox
// (group quillbox where the package made it; this account's own group
// where a normal instance made it itself).
uint32_t ProgramGroup();

// Whether a process running as `uid` with primary group `gid` may command
// this program: root, this process's account, or a member of the program's
// group (primary or supplementary, as the user database says; answers are
// kept for a minute so that a message costs no lookup).
bool IsTrustedAccount(uint32_t uid, uint32_t gid);

// Removes the "other" write bit of the entry at `path` if it has one (a
// file made by an older version, or by hand). kTightened is said once per
// change, so that the caller can trace it.
enum class Tighten { kAlreadyTight, kTightened, kFailed };
Tighten TightenOtherWrite(const std::string& path);

// In service mode a program or library is run or loaded only from a file
// nobody else can change. Switched on once at start.
void RequireTrustedPrograms(bool on);
bool TrustedProgramsRequired();

// Whether the program or library at `path` may be run in this process's
// name. With the requirement on, the file (and its folder) and `namedBy`,
// the file whose text named it (empty when it came from nowhere a user can
// write), must be owned by root or this account and not writable by
// others, and `path` must be absolute; a refusal goes to the trace and the
// system log with the reason. Without the requirement, always true.
bool MayRunProgram(const std::string& path, const std::string& namedBy);
// The rule itself for the account `account`, without the switch: why it
// would refuse `path`, or empty when it would run it. For tools that check
// a program before the service meets it.
std::string ProgramDistrust(const std::string& path, const std::string& namedBy, uint32_t account);

}  // namespace qb
