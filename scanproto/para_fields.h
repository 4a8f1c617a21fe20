// Values a parameter request produces besides the folder check: the access
// code in the packed form printers compare with what the user keys in, and
// the file name made from the sender's name.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock_text.h"

namespace qb {

// The code right-aligned in eight characters; character i sets the 4-bit
// group 7 - i to its digit, a blank leaves the group at 0xF. Any other
// character, or more than eight, gives 0xFFFFFFFF (as does an empty code).
uint32_t PackAccessCode(const std::string& code);

// "sender-YYYYMMDD-hhmmss", or "sender-department-YYYYMMDD-hhmmss" when a
// department name is set, with characters a file name cannot hold made "_".
std::string SenderFileName(const std::string& sender, const std::string& department,
                           const LocalDateTime& when);

}  // namespace qb
