#include "storage/file_naming.h"

#include <cctype>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "storage/name_reservations.h"
#include "storage/path_parts.h"

namespace qb {
namespace {

constexpr size_t kMaxConvertedName = 255;

template <typename Text>
Text FromAscii(std::string_view ascii) {
  return Text(ascii.begin(), ascii.end());
}

// The C library's atoi rule over characters of either width; characters
// outside ASCII end the number like any other non-digit.
template <typename Text>
int LeadingInt(const Text& text) {
  std::string narrow;
  for (auto c : text) narrow += static_cast<unsigned>(c) < 0x80 ? static_cast<char>(c) : 'x';
  return ParseLeadingInt(narrow.c_str());
}

size_t LastUnderscore(const std::string& text) { return FindLastUnderscore(text); }
size_t LastUnderscore(const std::u16string& text) { return text.rfind(u'_'); }

template <typename Text>
struct CandidateOf {
  Text candidate;
  Text stem;
  int number = 0;
  int digits = 0;
};

template <typename Text>
CandidateOf<Text> BuildCandidate(const Text& name, int n) {
  size_t dot = name.rfind(static_cast<typename Text::value_type>('.'));
  Text base = dot == Text::npos ? name : name.substr(0, dot);
  Text extension = dot == Text::npos ? Text() : name.substr(dot);
  Text mark;
  if (n != 0) {
    // Appended piece by piece: g++ 12 at -O2 warns falsely (-Wrestrict)
    // about "(" + std::string.
    std::string text(1, '(');
    text += std::to_string(n);
    text += ')';
    mark = FromAscii<Text>(text);
  }

  CandidateOf<Text> result;
  size_t underscore = LastUnderscore(base);
  if (underscore != Text::npos) {
    Text prefix = base.substr(0, underscore);
    Text suffix = base.substr(underscore + 1);
    bool isPageNumber =
        suffix.size() == 3 && (LeadingInt(suffix) != 0 || suffix == FromAscii<Text>("000"));
    if (isPageNumber) {
      result.candidate = prefix + mark + FromAscii<Text>("_???") + extension;
      result.stem = prefix + mark;
      result.number = LeadingInt(suffix);
      result.digits = 3;
      return result;
    }
  }
  result.candidate = base + mark + extension;
  result.stem = base + mark;
  return result;
}

std::string CutConverted(std::string text) {
  if (text.size() > kMaxConvertedName) text.resize(kMaxConvertedName);
  return text;
}

// Whether a file or a handed-out name in `folder` matches `candidate`.
bool Exists(Env& env, const std::string& path) {
  FileInfo info;
  return env.Stat(path, &info).ok();
}

bool IsTaken(const std::string& folder, const std::string& candidate, Env& env) {
  if (NameReservations::Instance().IsReserved(folder, candidate)) return true;
  if (candidate.find_first_of("?*") == std::string::npos) return Exists(env, folder + candidate);
  std::vector<FolderEntry> entries;
  if (!env.ListFolder(folder.empty() ? "." : folder, &entries)) return false;
  for (const FolderEntry& entry : entries) {
    if (MatchesNamePattern(candidate, entry.name)) return true;
  }
  return false;
}

}  // namespace

std::string MakeNumberedName(const char* stem, int number, int digits, const char* extension) {
  std::string name = stem;
  char suffix[16] = "";
  if (digits == 3) std::snprintf(suffix, sizeof suffix, "_%03d", number);
  if (digits == 6) std::snprintf(suffix, sizeof suffix, "_%06d", number);
  return name + suffix + extension;
}

NameCandidate MakeNameCandidate(const std::string& name, int n) {
  NameCandidate result;
  std::u16string wide;
  if (AnsiCodePage() == kCodePageJapanese && Cp932ToUtf16(name, &wide)) {
    CandidateOf<std::u16string> parts = BuildCandidate(wide, n);
    std::string candidate, stem;
    if (Utf16ToCp932(parts.candidate, &candidate) && Utf16ToCp932(parts.stem, &stem)) {
      result.candidate = CutConverted(candidate);
      result.stem = CutConverted(stem);
      result.number = parts.number;
      result.digits = parts.digits;
      return result;
    }
  }
  // Not convertible: the byte rule, which still steps over double-byte
  // characters when their lead bytes are recognisable.
  CandidateOf<std::string> parts = BuildCandidate(name, n);
  result.candidate = parts.candidate;
  result.stem = parts.stem;
  result.number = parts.number;
  result.digits = parts.digits;
  return result;
}

std::string MakeUniqueFileName(const std::string& path, bool overwrite, std::string* fullPath,
                               std::string* stem, int* digits, uint64_t owner, Env& env) {
  PathParts parts = SplitPath(path);
  std::string folder = FolderOf(parts);
  NameCandidate candidate = MakeNameCandidate(parts.baseName + parts.extension, 0);

  std::string result;
  if (overwrite) {
    result = folder + MakeNumberedName(candidate.stem.c_str(), candidate.number, candidate.digits,
                                       parts.extension.c_str());
  } else {
    NameReservations& reservations = NameReservations::Instance();
    std::lock_guard<std::mutex> hold(reservations.Mutex());
    // The first retry repeats counter 0; kept so that the series of probes
    // is the documented one.
    for (int n = 0; IsTaken(folder, candidate.candidate, env); ++n) {
      candidate = MakeNameCandidate(parts.baseName + parts.extension, n);
    }
    std::string name = MakeNumberedName(candidate.stem.c_str(), candidate.number, candidate.digits,
                                        parts.extension.c_str());
    if (owner != 0) reservations.Reserve(folder, name, owner);
    result = folder + name;
  }
  if (fullPath != nullptr) *fullPath = result;
  if (stem != nullptr) *stem = candidate.stem;
  if (digits != nullptr) *digits = candidate.digits;
  return result;
}

std::string MakeFreeExactName(const std::string& folder, const std::string& name, uint64_t owner,
                              const std::function<bool(const std::string&)>& alsoTaken, Env& env) {
  const PathParts parts = SplitPath(name);
  const size_t underscore = FindLastUnderscore(parts.baseName);
  // "_NNN" page numbers stay last, the mark goes before them.
  const bool numbered = underscore != std::string::npos &&
                        parts.baseName.size() - underscore == 4 &&
                        std::isdigit(static_cast<unsigned char>(parts.baseName[underscore + 1]));
  const std::string head = numbered ? parts.baseName.substr(0, underscore) : parts.baseName;
  const std::string tail = numbered ? parts.baseName.substr(underscore) : std::string();
  NameReservations& reservations = NameReservations::Instance();
  std::lock_guard<std::mutex> hold(reservations.Mutex());
  std::string candidate = parts.baseName + parts.extension;
  for (int n = 1; reservations.IsReserved(folder, candidate) || Exists(env, folder + candidate) ||
                  (alsoTaken && alsoTaken(folder + candidate));
       ++n) {
    candidate = head + "(" + std::to_string(n) + ")" + tail + parts.extension;
  }
  if (owner != 0) reservations.Reserve(folder, candidate, owner);
  return folder + candidate;
}

std::string RenumberFileName(const std::string& path, int number) {
  PathParts parts = SplitPath(path);
  size_t underscore = FindLastUnderscore(parts.baseName);
  if (underscore == std::string::npos) return path;
  size_t width = parts.baseName.size() - underscore - 1;
  const char* format = width == 1 ? "%d" : width == 2 ? "%02d" : width == 4 ? "%04d" : "%03d";
  char digitsText[32];
  std::snprintf(digitsText, sizeof digitsText, format, number);
  return FolderOf(parts) + parts.baseName.substr(0, underscore + 1) + digitsText + parts.extension;
}

}  // namespace qb
