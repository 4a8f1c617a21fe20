// The two date and time texts of the receive log and the scan protocol.
#pragma once

#include <string>

namespace qb {

// The current local time as the receive log's first column shows it: the
// user's short date, one blank, the time without seconds.
std::string MakeLogDateTime();

// The current local time as "YYYYMMDD-hhmmss", for file names.
std::string MakeTimestamp();

}  // namespace qb
