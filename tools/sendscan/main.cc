// quillbox-sendscan: plays a networked printer against a scan receiver.
#include <cstdio>
#include <string>

#include "tools/sendscan/options.h"
#include "tools/sendscan/session.h"

#ifndef QB_VERSION
#define QB_VERSION "unknown"
#endif

namespace {

int UsageFault(const std::string& text) {
  std::fprintf(stderr,
               "quillbox-sendscan: %s\n(quillbox-sendscan --help lists commands and options)\n",
               text.c_str());
  return qb::sendscan::kExitFault;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qb::sendscan;
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) return UsageFault(error);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (options.version) {
    std::printf("quillbox-sendscan %s\n", QB_VERSION);
    return kExitOk;
  }
  struct Command {
    const char* name;
    const char* operands;  // as the usage writes them
    size_t minArgs, maxArgs;
    int (*run)(const Options&);
  };
  const Command commands[] = {
      {"cap", "", 0, 0, RunCapability},
      {"check", "DEST", 1, 1, RunFolderCheck},
      {"dir-name", "DEST", 1, 1, RunDirName},
      {"dir-list", "PATH", 1, 1, RunDirList},
      {"send", "DEST FILE...", 2, 1000, RunSendFiles},
      {"raw", "DEST [BITMAP...]", 1, 1000, RunSendRaw},
      {"make-pdf", "OUT.pdf [BITMAP...]", 1, 1000, RunMakePdf},
      {"make-tiff", "OUT.tif [BITMAP...]", 1, 1000, RunMakeTiff},
  };
  if (options.command.empty()) return UsageFault("no command given");
  for (const Command& command : commands) {
    if (options.command != command.name) continue;
    const size_t count = options.args.size();
    if (count < command.minArgs) {
      // The first operand word not given: DEST, PATH, OUT.pdf, or send's FILE.
      std::string operands = command.operands;
      std::string missing = count == 1 ? "FILE" : operands.substr(0, operands.find(' '));
      return UsageFault(std::string(command.name) + ": missing " + missing +
                        " (quillbox-sendscan " + command.name + " " + operands + ")");
    }
    if (count > command.maxArgs) {
      return UsageFault(std::string(command.name) + ": unexpected operand " +
                        options.args[command.maxArgs]);
    }
    return command.run(options);
  }
  return UsageFault("unknown command " + options.command);
}
