#include "platform/launch.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <thread>

#include "platform/worker_thread.h"

extern char** environ;

namespace qb {

int LaunchProgram(const std::vector<std::string>& words) {
  if (words.empty() || words[0].empty()) {
    errno = ENOENT;
    return -1;
  }
  std::vector<std::string> copy = words;
  std::vector<char*> argv;
  for (std::string& word : copy) argv.push_back(word.data());
  argv.push_back(nullptr);
  // The calling thread blocks the termination signals (they are read
  // through a signalfd); the child must get them as any program does.
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setsigdefault(&attributes, &all);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t child = -1;
  // Our descriptors are opened close-on-exec, so the child inherits only
  // the standard three.
  int result = ::posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
  ::posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    errno = result;
    return -1;
  }
  StartWorkerThread([child] {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return static_cast<int>(child);
}

int LaunchCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < commandLine.size()) {
    size_t end = commandLine.find(' ', at);
    if (end == std::string::npos) end = commandLine.size();
    if (end > at) words.push_back(commandLine.substr(at, end - at));
    at = end + 1;
  }
  return LaunchProgram(words);
}

bool DesktopSessionPresent() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

}  // namespace qb
