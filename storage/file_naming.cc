#include "storage/file_naming.h"

#include <cstdio>

namespace qb {

std::string MakeNumberedName(const char* stem, int number, int digits, const char* extension) {
  std::string name = stem;
  char suffix[16] = "";
  if (digits == 3) std::snprintf(suffix, sizeof suffix, "_%03d", number);
  if (digits == 6) std::snprintf(suffix, sizeof suffix, "_%06d", number);
  return name + suffix + extension;
}

}  // namespace qb
