// The machine-wide single-instance lock: an exclusive flock on a file under
// R/run/quillbox, held until the process ends.
#pragma once

#include <string>

namespace qb {

enum class InstanceLock { kAcquired, kAlreadyHeld, kFailed };

// Takes the lock named `name` for the rest of the process's life.
InstanceLock AcquireInstanceLock(const std::string& name);

}  // namespace qb
