// web-url: the address of the local web page with its token, for members
// of the program's group (only they can read the token).
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "config/folders.h"
#include "config/settings.h"
#include "platform/secret_file.h"
#include "tools/config/commands.h"
#include "tools/config/exit_codes.h"
#include "tools/config/output.h"

namespace qb::config_tool {

int RunWebUrl(const Invocation& invocation) {
  if (invocation.words.size() != 1) return UsageError("web-url takes no arguments");
  std::string token;
  const std::string path = WebTokenPath();
  if (!ReadSecretFile(path, &token) || token.empty()) {
    return Refuse(Outcome::Refused(Refusal::kFailed, "cannot read the web page's token " + path,
                                   "start quillbox-web (systemctl start quillbox-web), and run this "
                                   "as a member of the program's group"),
                  invocation.json);
  }
  char address[64] = {};
  GetWebAddress(address, sizeof address);
  const std::string host = address[0] != '\0' ? address : "127.0.0.1";
  const bool tls = host != "127.0.0.1";
  const std::string url = std::string(tls ? "https" : "http") + "://" + host + ":" +
                          std::to_string(GetWebPort()) + "/?token=" + token;
  if (invocation.json) {
    PrintJson({{"url", url}});
  } else {
    std::cout << url << "\n";
  }
  return kExitOk;
}

}  // namespace qb::config_tool
