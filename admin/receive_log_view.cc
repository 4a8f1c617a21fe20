#include "admin/receive_log_view.h"

#include <algorithm>
#include <cstdlib>

#include "storage/data_files.h"
#include "storage/text_lines.h"

namespace qb {
namespace {

constexpr size_t kLogLineBuffer = 520;

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

std::optional<ReceiveLogEntry> ParseReceiveLogLine(const std::string& text) {
  const std::string line = WithoutLineEnd(text);
  if (line.empty() || line.compare(0, 2, "//") == 0) return std::nullopt;
  // Split at every ";": an empty last column (a document of several files
  // has no folder) is a column too.
  std::vector<std::string> columns(1);
  for (char c : line) {
    if (c == ';') {
      columns.emplace_back();
    } else {
      columns.back() += c;
    }
  }
  if (columns.size() < 5) return std::nullopt;

  ReceiveLogEntry entry;
  entry.line = line;
  std::string when = columns[0];
  entry.marked = !(when.size() >= 2 && when.compare(when.size() - 2, 2, " *") == 0);
  if (when.size() >= 2) when.resize(when.size() - 2);
  entry.when = when;
  entry.sender = columns[1];
  entry.file = columns[2];
  if (entry.marked && entry.file.size() >= 8 && entry.file.compare(0, 4, "*** ") == 0 &&
      entry.file.compare(entry.file.size() - 4, 4, " ***") == 0) {
    entry.file = entry.file.substr(4, entry.file.size() - 8);
  }
  entry.files = std::atoi(columns[3].c_str());
  entry.folder = columns.size() > 5 ? columns[5] : columns[4];
  return entry;
}

std::string ReceiveLogPath() { return SharedDataFilePath(kReceiveLogName); }

std::vector<std::string> ReadReceiveLogLines(Env& env) {
  std::vector<std::string> lines;
  if (!ReadTextLines(env, ReceiveLogPath(), kLogLineBuffer, &lines)) return {};
  // A line still being appended (no line end yet) is taken next time.
  if (!lines.empty() && (lines.back().empty() || lines.back().back() != '\n')) lines.pop_back();
  return lines;
}

std::vector<std::string> LinesAfter(const std::vector<std::string>& seen,
                                    const std::vector<std::string>& now) {
  auto entries = [](const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
      if (line.compare(0, 2, "//") != 0) kept.push_back(line);
    }
    return kept;
  };
  const std::vector<std::string> old = entries(seen);
  const std::vector<std::string> fresh = entries(now);
  // A trim drops the oldest entries and keeps the rest in order, so the
  // new log begins with the newest `overlap` entries seen (all of them
  // when it was only appended to). The longest such overlap is taken: two
  // equal lines (the same name in the same minute) do not end it early.
  for (size_t overlap = std::min(old.size(), fresh.size()); overlap > 0; --overlap) {
    if (std::equal(fresh.begin(), fresh.begin() + static_cast<long>(overlap),
                   old.end() - static_cast<long>(overlap))) {
      return {fresh.begin() + static_cast<long>(overlap), fresh.end()};
    }
  }
  return fresh;
}

}  // namespace qb
