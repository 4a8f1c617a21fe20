// Companion programs that the receiver starts and does not wait for.
#pragma once

#include <string>

namespace qb {

// Starts the program at `path` with no arguments, the caller's environment
// and working folder, and only the standard descriptors (every other one
// the program holds is close-on-exec). The signal mask and dispositions are
// reset, because the caller may be a worker thread with every signal
// blocked. The process id, or -1 when the program could not be started.
int StartProgram(const std::string& path);

// Collects the exit of a program started with StartProgram if it has
// ended, so that it does not linger as a zombie; true when it has ended
// (or is not our child any more).
bool CollectEndedProgram(int pid);

}  // namespace qb
