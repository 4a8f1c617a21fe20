// The text of an initialisation file ("profile"), read and rewritten
// without touching a file: sections and keys match without regard to case,
// the first match wins, values lose surrounding blanks and one pair of
// surrounding quotes. platform/profile.h does the locked file access
// around these.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qb {

// Value of section/key in `content`; nullopt when the section or key is
// missing.
std::optional<std::string> ProfileLookUp(const std::string& content, const char* section,
                                         const char* key);

// Every key of a section with its value (the first occurrence of a name
// wins), in file order.
std::vector<std::pair<std::string, std::string>> ProfileSectionEntries(const std::string& content,
                                                                       const char* section);

// The key names of a section in file order. When the names with their
// terminators would exceed `maxBytes`, the list ends with the names that fit.
std::vector<std::string> ProfileSectionKeyNames(const std::string& content, const char* section,
                                                size_t maxBytes);

struct ProfileUpdate {
  std::string key;
  std::optional<std::string> value;  // nullopt deletes the key
};

// `content` with every update applied in order to the first section named
// `section`; every other line stays as it was.
std::string ProfileApplyWrites(const std::string& content, const char* section,
                               const std::vector<ProfileUpdate>& updates);

// Signed decimal prefix (blanks before it skipped, a sign allowed, parsing
// stops at the first non-digit; no digits reads as 0), saturated at the int
// range.
int ParseLeadingInt(const char* text);

}  // namespace qb
