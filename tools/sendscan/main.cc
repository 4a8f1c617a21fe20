// quillbox-sendscan: plays a networked printer against a scan receiver.
#include <cstdio>
#include <string>

#include "tools/sendscan/options.h"
#include "tools/sendscan/session.h"

int main(int argc, char** argv) {
  using namespace qb::sendscan;
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "quillbox-sendscan: %s\n%s", error.c_str(), kUsage);
    return kExitFault;
  }
  struct Command {
    const char* name;
    size_t minArgs, maxArgs;
    int (*run)(const Options&);
  };
  const Command commands[] = {
      {"cap", 0, 0, RunCapability},    {"check", 1, 1, RunFolderCheck},
      {"dir-name", 1, 1, RunDirName},  {"dir-list", 1, 1, RunDirList},
      {"send", 2, 1000, RunSendFiles}, {"raw", 1, 1000, RunSendRaw},
  };
  for (const Command& command : commands) {
    if (options.command != command.name) continue;
    if (options.args.size() < command.minArgs || options.args.size() > command.maxArgs) break;
    return command.run(options);
  }
  std::fputs(kUsage, stderr);
  return kExitFault;
}
