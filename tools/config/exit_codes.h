// The exit codes of quillbox-config, for scripts (also in its manual page
// and the README).
#pragma once

#include "admin/outcome.h"

namespace qb::config_tool {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,        // a file could not be read or written, a restart failed
  kExitUsage = 2,         // unknown command or option, missing argument
  kExitInvalid = 3,       // a value the receiver would trip on; nothing was changed
  kExitNotPermitted = 4,  // this account may not change the receiver's files
  kExitNoReceiver = 5,    // no receiver runs (status, --restart)
  kExitNotListed = 6,     // no destination of that number
  kExitListed = 7,        // the destination number is taken already
};

inline int ExitCodeOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::kNone:
      return kExitOk;
    case Refusal::kInvalid:
      return kExitInvalid;
    case Refusal::kNotPermitted:
      return kExitNotPermitted;
    case Refusal::kNotListed:
      return kExitNotListed;
    case Refusal::kListed:
      return kExitListed;
    case Refusal::kFailed:
      break;
  }
  return kExitFailed;
}

}  // namespace qb::config_tool
