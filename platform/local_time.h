// Local time texts.
#pragma once

#include <string>

namespace qb {

// Local time of day as "HH:MM:SS" (24-hour clock).
std::string LocalTimeOfDayText();

}  // namespace qb
