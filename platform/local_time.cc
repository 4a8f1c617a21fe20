#include "platform/local_time.h"

#include <time.h>

#include <cstdio>

namespace qb {

std::string LocalTimeOfDayText() {
  time_t now = ::time(nullptr);
  struct tm local;
  ::localtime_r(&now, &local);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace qb
