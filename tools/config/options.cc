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
    } else if (word == "--follow" || word == "-f") {
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
  return "usage: quillbox-config [--json] COMMAND ...\n"
         "  status                      receiver, ports, destinations, printers, last documents\n"
         "  dest list                   the destination list\n"
         "  dest add N FOLDER [--description T] [--code DIGITS] [--extension LIB]\n"
         "  dest set N [--folder F] [--description T] [--code DIGITS] [--extension LIB]\n"
         "  dest remove N\n"
         "  get [KEY]                   settings with type, range and default\n"
         "  set KEY VALUE [--restart]   change a setting (--restart: restart the receiver)\n"
         "  log [--follow]              the receive log\n"
         "Exit codes: 0 ok, 1 failed, 2 usage, 3 invalid value, 4 not permitted,\n"
         "5 no receiver, 6 destination not listed, 7 destination listed already.\n";
}

}  // namespace qb::config_tool
