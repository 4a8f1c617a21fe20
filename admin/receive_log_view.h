// The receive log (storage/receive_log.h) read back for a person or a
// script: one entry per line, "date time mark;sender;file;files;folder"
// (a fax notice has a sixth column), the header line left out.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/env.h"

namespace qb {

struct ReceiveLogEntry {
  std::string when;    // as the log writes it, e.g. "2026/12/06 15:46"
  bool marked = false;  // the extension library asked for the marked form
  std::string sender;
  std::string file;    // without the "*** ***" of a marked entry
  int files = 0;
  std::string folder;  // empty for a document of several files
  std::string line;    // the line as it stands, without its end
};

// The entry of one line; nullopt for the header, an empty line or one
// with fewer than five columns.
std::optional<ReceiveLogEntry> ParseReceiveLogLine(const std::string& line);

// The log's lines as they are now (empty when there is no log).
std::vector<std::string> ReadReceiveLogLines(Env& env);
std::string ReceiveLogPath();

// The entry lines of `now` that came after those of `seen` (header lines
// left out). The log is appended to and, when it grows past List entries,
// replaced by its newest entries; when a trim took everything seen, every
// entry of `now` is new.
std::vector<std::string> LinesAfter(const std::vector<std::string>& seen,
                                    const std::vector<std::string>& now);

}  // namespace qb
