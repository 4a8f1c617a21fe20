// Local date and time, and their texts in the user's formats. The formats
// come from the LC_TIME locale of the environment (LC_ALL, LC_TIME, LANG);
// the C locale (also as C.UTF-8), POSIX and a locale that is not installed give
// "%Y/%m/%d" and "%H:%M".
#pragma once

#include <string>

namespace qb {

struct LocalDateTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

LocalDateTime CurrentLocalTime();

// The locale's short date, one blank, the locale's time without seconds.
// A date or time outside the calendar (month 13, hour 24, ...) leaves its
// half empty rather than printing a wrong day.
std::string FormatShortDateTime(const LocalDateTime& when);

}  // namespace qb
