#include "text/profile_text.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <unordered_set>

namespace qb {
namespace {

std::string_view Trim(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  size_t end = text.size();
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
    --end;
  return text.substr(begin, end - begin);
}

char Folded(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool SameName(std::string_view a, const char* b) {
  size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (Folded(a[i]) != Folded(b[i])) return false;
  }
  return true;
}

// One line of the file, classified.
struct Line {
  size_t begin;  // offset of the line in the content
  size_t end;    // offset past its newline (or end of content)
  enum Kind { kOther, kSection, kKey } kind;
  std::string_view name;   // section or key name
  std::string_view value;  // key value
};

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t newline = content.find('\n', pos);
    size_t end = newline == std::string::npos ? content.size() : newline + 1;
    std::string_view text(content.data() + pos,
                          (newline == std::string::npos ? end : newline) - pos);
    Line line{pos, end, Line::kOther, {}, {}};
    std::string_view trimmed = Trim(text);
    if (!trimmed.empty() && trimmed[0] == '[') {
      size_t close = trimmed.find(']');
      line.kind = Line::kSection;
      line.name = Trim(
          trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    } else if (!trimmed.empty() && trimmed[0] != ';') {
      size_t equals = trimmed.find('=');
      if (equals != std::string_view::npos) {
        line.kind = Line::kKey;
        line.name = Trim(trimmed.substr(0, equals));
        line.value = Trim(trimmed.substr(equals + 1));
      }
    }
    lines.push_back(line);
    pos = end;
  }
  return lines;
}

// Index range [first, last) of the lines of the first section named so;
// first is the section line itself. nullopt when there is none.
std::optional<std::pair<size_t, size_t>> FindSection(const std::vector<Line>& lines,
                                                     const char* section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != Line::kSection || !SameName(lines[i].name, section)) continue;
    size_t last = i + 1;
    while (last < lines.size() && lines[last].kind != Line::kSection) ++last;
    return std::make_pair(i, last);
  }
  return std::nullopt;
}

std::string_view Unquoted(std::string_view value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::optional<std::string> ProfileLookUp(const std::string& content, const char* section,
                                         const char* key) {
  std::vector<Line> lines = SplitLines(content);
  auto range = FindSection(lines, section);
  if (!range) return std::nullopt;
  for (size_t i = range->first + 1; i < range->second; ++i) {
    if (lines[i].kind == Line::kKey && SameName(lines[i].name, key)) {
      return std::string(Unquoted(lines[i].value));
    }
  }
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> ProfileSectionEntries(const std::string& content,
                                                                       const char* section) {
  std::vector<std::pair<std::string, std::string>> entries;
  std::vector<Line> lines = SplitLines(content);
  auto range = FindSection(lines, section);
  if (!range) return entries;
  // Names already taken, without case: the first of a name wins.
  std::unordered_set<std::string> seen;
  for (size_t i = range->first + 1; i < range->second; ++i) {
    if (lines[i].kind != Line::kKey) continue;
    std::string folded(lines[i].name);
    for (char& c : folded) c = Folded(c);
    if (seen.insert(std::move(folded)).second) entries.emplace_back(lines[i].name, Unquoted(lines[i].value));
  }
  return entries;
}

std::vector<std::string> ProfileSectionKeyNames(const std::string& content, const char* section,
                                                size_t maxBytes) {
  std::vector<std::string> names;
  std::vector<Line> lines = SplitLines(content);
  auto range = FindSection(lines, section);
  if (!range) return names;
  size_t used = 1;  // the list's final terminator
  for (size_t i = range->first + 1; i < range->second; ++i) {
    if (lines[i].kind != Line::kKey) continue;
    if (used + lines[i].name.size() + 1 > maxBytes) break;
    used += lines[i].name.size() + 1;
    names.emplace_back(lines[i].name);
  }
  return names;
}

// The content with every update applied in order to the first section
// named so, exactly as if each were written on its own: a key present is
// replaced where it stands (or its line deleted for no value); a key absent
// is added after the section's last key line, so blank lines stay between
// sections; a missing section is added at the end with the first value.
// The file is read into lines once for the whole batch: a list of a hundred
// keys rewritten one parse per key would cost a hundred parses.
std::string ProfileApplyWrites(const std::string& content, const char* section,
                        const std::vector<ProfileUpdate>& updates) {
  struct Segment {
    std::string text;  // the line with its newline
    bool key = false;
    std::string name;
  };
  std::vector<Line> lines = SplitLines(content);
  auto range = FindSection(lines, section);
  std::string before, after;
  std::vector<Segment> body;  // the section's header line first
  if (!range) {
    bool anyValue = false;
    for (const ProfileUpdate& update : updates) anyValue |= update.value.has_value();
    if (!anyValue) return content;
    before = content;
    if (!before.empty() && before.back() != '\n') before += "\n";
    std::string header = "[";
    header += section;
    header += "]\n";
    body.push_back({std::move(header), false, std::string()});
  } else {
    before = content.substr(0, lines[range->first].begin);
    for (size_t i = range->first; i < range->second; ++i) {
      body.push_back({content.substr(lines[i].begin, lines[i].end - lines[i].begin),
                      lines[i].kind == Line::kKey, std::string(lines[i].name)});
    }
    if (range->second < lines.size()) after = content.substr(lines[range->second].begin);
  }

  for (const ProfileUpdate& update : updates) {
    const std::string name(Trim(update.key));
    size_t found = 0;
    for (size_t i = 1; i < body.size() && found == 0; ++i) {
      if (body[i].key && SameName(body[i].name, update.key.c_str())) found = i;
    }
    if (found != 0) {
      if (update.value) {
        body[found] = {update.key + "=" + *update.value + "\n", true, name};
      } else {
        body.erase(body.begin() + static_cast<std::ptrdiff_t>(found));
      }
      continue;
    }
    if (!update.value) continue;
    size_t last = 0;
    for (size_t i = 1; i < body.size(); ++i) {
      if (body[i].key) last = i;
    }
    if (!body[last].text.empty() && body[last].text.back() != '\n') body[last].text += "\n";
    body.insert(body.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                {update.key + "=" + *update.value + "\n", true, name});
  }

  std::string updated = std::move(before);
  for (const Segment& segment : body) updated += segment.text;
  return updated + after;
}

int ParseLeadingInt(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = false;
  if (*text == '-' || *text == '+') {
    negative = *text == '-';
    ++text;
  }
  long long value = 0;
  while (*text >= '0' && *text <= '9') {
    value = value * 10 + (*text - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    ++text;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

}  // namespace qb
