// The machine-wide single-instance lock: an exclusive flock on a file under
// R/run/quillbox, held until the process ends.
#pragma once

#include <string>

namespace qb {

enum class InstanceLock { kAcquired, kAlreadyHeld, kFailed };

// Takes the lock named `name` for the rest of the process's life. On
// kFailed, `problem` (when given) says in words which path could not be
// created or locked and why.
InstanceLock AcquireInstanceLock(const std::string& name, std::string* problem = nullptr);

}  // namespace qb

namespace qb {

// Whether another process holds the lock `name` now, asked without taking
// it and without creating the run-time folder or the lock file.
bool InstanceLockHeld(const std::string& name);

}  // namespace qb
