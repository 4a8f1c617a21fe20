// Names of received files in destination folders.
#pragma once

#include <string>

namespace qb {

// stem, then "_%03d" when digits is 3 or "_%06d" when digits is 6 (any
// other value adds nothing), then the extension (given with its dot).
std::string MakeNumberedName(const char* stem, int number, int digits, const char* extension);

}  // namespace qb
