// The files that the receiver shares with the configuration program and its
// other instances: made for the account and its group only, and tightened
// at start where an older version or a hand left them writable by others.
#pragma once

#include "platform/env.h"

namespace qb {

// Removes the "other" write bit from the settings file, the destination
// list, the receive log, the host table, the run-time folder and what lies
// in it; each change (or a file that cannot be changed) is traced once.
void TightenSharedFiles(Env& env);

}  // namespace qb
