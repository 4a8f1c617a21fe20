#include "platform/service_manager.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace qb {
namespace {

struct CommandResult {
  bool started = false;
  int exitCode = -1;
  std::string output;  // standard output and error together
};

// Runs `systemctl args...` and collects its output, for at most 10 s.
CommandResult RunSystemctl(const std::vector<std::string>& args) {
  CommandResult result;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  std::vector<std::string> words{"systemctl"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t child = -1;
  int spawned = ::posix_spawnp(&child, "systemctl", &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    return result;
  }
  result.started = true;
  char chunk[512];
  for (;;) {
    pollfd entry{pipeFds[0], POLLIN, 0};
    if (::poll(&entry, 1, 10000) <= 0) {
      ::kill(child, SIGKILL);
      break;
    }
    ssize_t got = ::read(pipeFds[0], chunk, sizeof chunk);
    if (got <= 0) break;
    if (result.output.size() < 65536) result.output.append(chunk, static_cast<size_t>(got));
  }
  ::close(pipeFds[0]);
  int status = 0;
  if (::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  }
  // A shell that cannot find the program reports 127.
  if (result.exitCode == 127) result.started = false;
  return result;
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// The error number a failed systemctl call stands for.
int ErrorOf(const CommandResult& result) {
  if (!result.started) return kErrorNoServiceManager;
  const std::string& text = result.output;
  if (Contains(text, "not been booted with systemd") ||
      Contains(text, "Failed to connect to bus") || Contains(text, "Failed to get D-Bus")) {
    return kErrorNoServiceManager;
  }
  if (Contains(text, "No such file or directory") || Contains(text, "not found") ||
      Contains(text, "not loaded")) {
    return kErrorServiceDoesNotExist;
  }
  return 1;
}

std::string Unit(const char* service) { return std::string(service) + ".service"; }

std::string FirstWord(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_first_of(" \t\r\n", begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace

int QueryServiceStartType(const char* service, int* startType) {
  CommandResult result = RunSystemctl({"is-enabled", Unit(service)});
  std::string state = FirstWord(result.output);
  if (result.started && (state == "enabled" || state == "enabled-runtime")) {
    *startType = 2;
    return 0;
  }
  if (result.started && (state == "disabled" || state == "masked" || state == "masked-runtime")) {
    *startType = 4;
    return 0;
  }
  if (result.started && result.exitCode == 0) {
    *startType = 3;  // static, indirect, linked, ...: started only on demand
    return 0;
  }
  return ErrorOf(result);
}

int QueryServiceRunning(const char* service, bool* running) {
  CommandResult result = RunSystemctl({"is-active", Unit(service)});
  std::string state = FirstWord(result.output);
  if (!result.started) return kErrorNoServiceManager;
  if (state == "inactive" || state == "failed") {
    *running = false;
    return 0;
  }
  if (result.exitCode == 0 || state == "activating" || state == "deactivating" ||
      state == "reloading") {
    *running = true;
    return 0;
  }
  return ErrorOf(result);
}

int StartServiceUnit(const char* service) {
  CommandResult result = RunSystemctl({"start", Unit(service)});
  return result.started && result.exitCode == 0 ? 0 : ErrorOf(result);
}

int RestartServiceUnit(const char* service) {
  CommandResult result = RunSystemctl({"restart", Unit(service)});
  return result.started && result.exitCode == 0 ? 0 : ErrorOf(result);
}

int StopServiceUnit(const char* service, bool* alreadyStopped) {
  bool running = true;
  *alreadyStopped = QueryServiceRunning(service, &running) == 0 && !running;
  CommandResult result = RunSystemctl({"stop", Unit(service)});
  return result.started && result.exitCode == 0 ? 0 : ErrorOf(result);
}

}  // namespace qb
