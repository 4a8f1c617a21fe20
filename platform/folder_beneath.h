// Looking a folder up below another without ever leaving it: the way to
// use a folder name that came from the network. No symbolic link is
// followed on the way, so a link placed inside a destination folder (to
// somewhere else on the machine, or to "..") cannot carry a file out of it.
#pragma once

#include <string>

namespace qb {

enum class BeneathLookup {
  kFolder,     // `relative` names a real folder below `base`
  kMissing,    // a component does not exist (every one before it is a real folder)
  kRefused,    // a symbolic link, a ".." component or an absolute path was on the way
  kNotFolder,  // a component is a file
  kFailed,     // `base` itself cannot be opened, or the system refused
};

// Looks `relative` ("a/b/c"; empty and "." components are skipped) up below
// the folder `base` (which may itself be reached through links: it is the
// program's own setting). Uses openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_SYMLINKS, or where the kernel lacks it (ENOSYS) a walk of
// openat with O_NOFOLLOW, one component at a time; both give the same answer.
BeneathLookup LookUpFolderBeneath(const std::string& base, const std::string& relative);

// The walk alone, for tests of the fallback on kernels that have openat2.
BeneathLookup LookUpFolderBeneathByWalk(const std::string& base, const std::string& relative);

}  // namespace qb
