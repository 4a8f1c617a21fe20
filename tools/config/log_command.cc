// log [--follow] [--json]: the receive log as readable lines.
#include <iostream>

#include "admin/destination_edit.h"
#include "admin/receive_log_view.h"
#include "platform/file_watch.h"
#include "tools/config/commands.h"
#include "tools/config/exit_codes.h"
#include "tools/config/output.h"

namespace qb::config_tool {
namespace {

// One line per entry: readable text, or one JSON object per line when
// following (so that a script reads each as it comes).
void Print(const std::vector<std::string>& lines, bool json) {
  // Read afresh: a destination added meanwhile names its documents too.
  std::vector<DestinationEntry> destinations;
  std::string why;
  if (!json) ReadDestinations(Env::Default(), &destinations, &why);
  for (const std::string& line : lines) {
    const std::optional<ReceiveLogEntry> entry = ParseReceiveLogLine(line);
    if (!entry) continue;
    if (json) {
      std::cout << ToJson(*entry).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                << "\n";
    } else {
      std::cout << DescribeLogEntry(*entry, destinations) << "\n";
    }
  }
  std::cout.flush();
}

}  // namespace

int RunLog(const Invocation& invocation) {
  if (invocation.words.size() != 1) return UsageError("log takes no arguments");
  Env& env = Env::Default();
  std::vector<std::string> seen = ReadReceiveLogLines(env);
  if (!invocation.follow) {
    if (invocation.json) {
      nlohmann::json list = nlohmann::json::array();
      for (const std::string& line : seen) {
        if (auto entry = ParseReceiveLogLine(line)) list.push_back(ToJson(*entry));
      }
      PrintJson({{"file", ReceiveLogPath()}, {"entries", list}});
    } else {
      Print(seen, false);
    }
    return kExitOk;
  }
  const std::string path = ReceiveLogPath();
  FileWatch watch(path.substr(0, path.rfind('/')), path.substr(path.rfind('/') + 1));
  if (!watch.ok()) {
    return Refuse(Outcome::Refused(Refusal::kFailed, "cannot watch " + path + " for new lines"),
                  invocation.json);
  }
  // The watch is in place before the first read: a line written between
  // the two is not lost.
  seen = ReadReceiveLogLines(env);
  Print(seen, invocation.json);
  while (watch.WaitForChange(-1)) {
    std::vector<std::string> now = ReadReceiveLogLines(env);
    Print(LinesAfter(seen, now), invocation.json);
    seen = std::move(now);
    if (!std::cout) return kExitFailed;  // the reader went away
  }
  return kExitOk;
}

}  // namespace qb::config_tool
