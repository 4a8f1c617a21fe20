// Starting another program without waiting for it (the configuration
// program, the fax companion, a desktop notification).
#pragma once

#include <string>
#include <vector>

namespace qb {

// Starts `words[0]` (a path, or a name looked up on PATH when it has no
// "/") with the rest as its arguments, in the caller's environment and
// folder, with no descriptor but the standard three. Returns the child's
// process id, or -1 with errno set. A thread of its own waits for the
// child, so that no exited child stays behind as a zombie.
int LaunchProgram(const std::vector<std::string>& words);
// The same for a command line, split at blanks; its first word is the
// program path.
int LaunchCommandLine(const std::string& commandLine);

// Whether a graphical desktop session is reachable (DISPLAY,
// WAYLAND_DISPLAY or a session bus in the environment).
bool DesktopSessionPresent();

}  // namespace qb
