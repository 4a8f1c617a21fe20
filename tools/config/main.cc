// quillbox-config: sets up and watches the receiver of this machine (or of
// QUILLBOX_ROOT): status, destinations, settings, the receive log.
#include <iostream>
#include <map>
#include <string>

#include "tools/config/commands.h"
#include "tools/config/exit_codes.h"
#include "tools/config/output.h"

int main(int argc, char** argv) {
  using namespace qb::config_tool;
  Invocation invocation;
  std::string problem;
  if (!ParseCommandLine(argc, argv, &invocation, &problem)) return UsageError(problem);
  if (invocation.help) {
    std::cout << UsageText();
    return kExitOk;
  }
  if (invocation.version) {
    std::cout << "quillbox-config " << QB_VERSION << "\n";
    return kExitOk;
  }
  if (invocation.words.empty()) return UsageError("no command given");
  static const std::map<std::string, int (*)(const Invocation&)> kCommands = {
      {"status", RunStatus}, {"dest", RunDest}, {"get", RunGet},
      {"set", RunSet},       {"log", RunLog},   {"web-url", RunWebUrl},
  };
  const auto command = kCommands.find(invocation.words[0]);
  if (command == kCommands.end()) return UsageError("unknown command " + invocation.words[0]);
  return command->second(invocation);
}
