#include "platform/program_start.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace qb {

int StartProgram(const std::string& path) {
  posix_spawnattr_t attributes;
  if (::posix_spawnattr_init(&attributes) != 0) return -1;
  sigset_t none, defaults;
  ::sigemptyset(&none);
  ::sigemptyset(&defaults);
  ::sigaddset(&defaults, SIGPIPE);
  ::sigaddset(&defaults, SIGTERM);
  ::sigaddset(&defaults, SIGINT);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t child = -1;
  int failed = ::posix_spawn(&child, path.c_str(), nullptr, &attributes, argv, environ);
  ::posix_spawnattr_destroy(&attributes);
  return failed == 0 ? static_cast<int>(child) : -1;
}

bool CollectEndedProgram(int pid) {
  if (pid <= 0) return true;
  int status = 0;
  pid_t done = ::waitpid(pid, &status, WNOHANG);
  return done == pid || (done < 0 && errno == ECHILD);
}

}  // namespace qb
