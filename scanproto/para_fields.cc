#include "scanproto/para_fields.h"

#include <cstdio>

#include "storage/name_cleaning.h"

namespace qb {

uint32_t PackAccessCode(const std::string& code) {
  constexpr size_t kDigits = 8;
  // A longer code cannot be one the configuration program wrote; packing
  // part of it would hand out a wrong code.
  if (code.size() > kDigits) return 0xFFFFFFFF;
  std::string field = std::string(kDigits - code.size(), ' ') + code;
  uint32_t packed = 0xFFFFFFFF;
  for (size_t i = 0; i < kDigits; ++i) {
    char ch = field[i];
    if (ch == ' ') continue;
    if (ch < '0' || ch > '9') return 0xFFFFFFFF;
    unsigned shift = static_cast<unsigned>(4 * (kDigits - 1 - i));
    packed = (packed & ~(0xFu << shift)) | static_cast<uint32_t>(ch - '0') << shift;
  }
  return packed;
}

std::string SenderFileName(const std::string& sender, const std::string& department,
                           const LocalDateTime& when) {
  char date[40];
  std::snprintf(date, sizeof date, "%04d%02d%02d-%02d%02d%02d", when.year, when.month, when.day,
                when.hour, when.minute, when.second);
  std::string name =
      department.empty() ? sender + "-" + date : sender + "-" + department + "-" + date;
  RemoveControlsAndSemicolons(&name);
  ReplaceInvalidNameChars(&name);
  return name;
}

}  // namespace qb
