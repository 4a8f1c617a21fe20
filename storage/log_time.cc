#include "storage/log_time.h"

#include <cstdio>

#include "platform/clock_text.h"

namespace qb {

std::string MakeLogDateTime() { return FormatShortDateTime(CurrentLocalTime()); }

std::string MakeTimestamp() {
  LocalDateTime now = CurrentLocalTime();
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  return text;
}

}  // namespace qb
