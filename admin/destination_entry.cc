#include "admin/destination_entry.h"

#include "storage/destinations.h"
#include "storage/text_lines.h"
#include "text/profile_text.h"

namespace qb {
namespace {

// The receiver reads the list in pieces of this many bytes less one.
constexpr size_t kListLineBuffer = 520;

}  // namespace

std::optional<DestinationEntry> ParseDestinationLine(const std::string& line) {
  std::string rest = line;
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.pop_back();
  if (rest.empty()) return std::nullopt;
  DestinationEntry entry;
  entry.number = ParseLeadingInt(SplitField(&rest).c_str());
  entry.folder = SplitField(&rest);
  entry.description = SplitField(&rest);
  entry.accessCode = SplitField(&rest);
  entry.extensionLibrary = SplitField(&rest);
  return entry;
}

std::string FormatDestinationLine(const DestinationEntry& entry) {
  return std::to_string(entry.number) + ";" + entry.folder + ";" + entry.description + ";" +
         entry.accessCode + ";" + entry.extensionLibrary;
}

std::vector<DestinationEntry> ParseDestinationList(const std::string& text) {
  std::vector<DestinationEntry> entries;
  for (const std::string& line : SplitTextLines(text, kListLineBuffer)) {
    if (auto entry = ParseDestinationLine(line)) entries.push_back(std::move(*entry));
  }
  return entries;
}

}  // namespace qb
