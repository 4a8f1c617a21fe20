#include "tools/config/options.h"

namespace qb::config_tool {
namespace {

// Options that take a value, as "--name VALUE" or "--name=VALUE".
struct ValueOption {
  const char* name;
  std::optional<std::string> Invocation::*field;
};

constexpr ValueOption kValueOptions[] = {
    {"--folder", &Invocation::folder},
    {"--description", &Invocation::description},
    {"--code", &Invocation::code},
    {"--extension", &Invocation::extension},
};

}  // namespace

bool ParseCommandLine(int argc, char** argv, Invocation* invocation, std::string* problem) {
  bool onlyWords = false;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (onlyWords || word.empty() || word[0] != '-' || word == "-") {
      invocation->words.push_back(word);
      continue;
    }
    if (word == "--") {
      onlyWords = true;
    } else if (word == "--json") {
      invocation->json = true;
    } else if (word == "--follow") {
      invocation->follow = true;
    } else if (word == "--restart") {
      invocation->restart = true;
    } else if (word == "--help" || word == "-h") {
      invocation->help = true;
    } else if (word == "--version") {
      invocation->version = true;
    } else {
      bool known = false;
      for (const ValueOption& option : kValueOptions) {
        const std::string name = option.name;
        if (word == name) {
          if (i + 1 >= argc) {
            *problem = name + " needs a value";
            return false;
          }
          invocation->*option.field = std::string(argv[++i]);
          known = true;
        } else if (word.compare(0, name.size() + 1, name + "=") == 0) {
          invocation->*option.field = word.substr(name.size() + 1);
          known = true;
        }
        if (known) break;
      }
      if (!known) {
        *problem = "unknown option " + word;
        return false;
      }
    }
  }
  return true;
}

const char* UsageText() {
  return "usage: quillbox-config [options] COMMAND ...\n"
         "Sets up and watches the Quillbox receiver (QUILLBOX_ROOT: on that root).\n"
         "commands:\n"
         "  status                   receiver, ports, destinations, printers, last documents\n"
         "  dest list                the destination list\n"
         "  dest add N FOLDER        add a destination (--description, --code, --extension)\n"
         "  dest set N               change fields (--folder, --description, --code, --extension)\n"
         "  dest remove N            remove a destination\n"
         "  get [KEY]                settings with type, range, default and when they count\n"
         "  set KEY VALUE            change a setting (--restart: restart the receiver)\n"
         "  log                      the receive log (--follow: wait for new documents)\n"
         "  web-url                  the local web page's address with its token\n"
         "options:\n"
         "  --json                   output for scripts\n"
         "  --folder F               the destination's folder (dest set)\n"
         "  --description T          its label\n"
         "  --code DIGITS            its access code, up to 8 digits (\"\": none)\n"
         "  --extension LIB          its extension library (absolute path; \"\": none)\n"
         "  --restart                restart the receiver after a setting read at start\n"
         "  --follow                 keep printing new receive-log lines\n"
         "  -h, --help               this text\n"
         "  --version                the version\n"
         "exit codes: 0 ok, 1 failed, 2 usage, 3 invalid value, 4 not permitted,\n"
         "5 no receiver, 6 destination not listed, 7 destination listed already\n";
}

}  // namespace qb::config_tool
