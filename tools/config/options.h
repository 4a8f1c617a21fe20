// The command line of quillbox-config: a command, its words, and options
// that may stand anywhere after the program's name.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qb::config_tool {

struct Invocation {
  std::vector<std::string> words;  // the command and its positional arguments
  bool json = false;
  bool follow = false;
  bool restart = false;
  bool help = false;
  bool version = false;
  std::optional<std::string> folder;
  std::optional<std::string> description;
  std::optional<std::string> code;
  std::optional<std::string> extension;
};

// False with `problem` set on an unknown option or one without its value.
bool ParseCommandLine(int argc, char** argv, Invocation* invocation, std::string* problem);

// The usage text (standard output for --help, standard error on a mistake).
const char* UsageText();

}  // namespace qb::config_tool
