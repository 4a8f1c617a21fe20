#include "platform/clock_text.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <cstring>

#include "platform/places.h"

namespace qb {
namespace {

constexpr char kPlainDate[] = "%Y/%m/%d";
constexpr char kPlainTime[] = "%H:%M";

std::string TimeLocaleName() {
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    std::string value = EnvironmentText(name);
    if (!value.empty()) return value;
  }
  return "C";
}

bool IsConversion(const std::string& format, size_t at) {
  return at + 1 < format.size() && format[at] == '%';
}

// Removes the seconds element and the separator that belongs to it: the
// text before it when that is punctuation (":" in "%H:%M:%S"), otherwise
// the unit text after it (as in "%H時%M分%S秒").
std::string WithoutSeconds(std::string format) {
  size_t at = format.find("%S");
  if (at == std::string::npos) return format;
  size_t begin = at;
  while (begin > 0 && !IsConversion(format, begin - 1) &&
         std::strchr(":.- ", format[begin - 1]) != nullptr && at - begin < 2) {
    --begin;
  }
  size_t end = at + 2;
  if (begin == at) {
    while (end < format.size() && format[end] != '%' && format[end] != ' ') ++end;
  }
  format.erase(begin, end - begin);
  return format;
}

struct Formats {
  std::string date = kPlainDate;
  std::string time = kPlainTime;
  locale_t locale = nullptr;
};

Formats LocaleFormats() {
  Formats formats;
  std::string name = TimeLocaleName();
  // "C.UTF-8" and its spellings are the C locale with another character set.
  if (name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0) return formats;
  formats.locale = ::newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(0));
  if (formats.locale == nullptr) return formats;
  formats.date = ::nl_langinfo_l(D_FMT, formats.locale);
  std::string time = ::nl_langinfo_l(T_FMT, formats.locale);
  if (time == "%r") time = ::nl_langinfo_l(T_FMT_AMPM, formats.locale);
  if (time == "%T") time = "%H:%M:%S";
  formats.time = WithoutSeconds(time);
  if (formats.date.empty()) formats.date = kPlainDate;
  if (formats.time.empty()) formats.time = kPlainTime;
  return formats;
}

std::string Format(const std::string& format, const struct tm& fields, locale_t locale) {
  char text[128];
  size_t length = locale != nullptr
                      ? ::strftime_l(text, sizeof text, format.c_str(), &fields, locale)
                      : ::strftime(text, sizeof text, format.c_str(), &fields);
  return std::string(text, length);
}

bool IsCalendarDate(const LocalDateTime& when) {
  return when.year >= 1601 && when.year <= 30827 && when.month >= 1 && when.month <= 12 &&
         when.day >= 1 && when.day <= 31;
}

bool IsClockTime(const LocalDateTime& when) {
  return when.hour >= 0 && when.hour <= 23 && when.minute >= 0 && when.minute <= 59 &&
         when.second >= 0 && when.second <= 59;
}

}  // namespace

LocalDateTime CurrentLocalTime() {
  time_t now = ::time(nullptr);
  struct tm fields;
  ::localtime_r(&now, &fields);
  LocalDateTime when;
  when.year = fields.tm_year + 1900;
  when.month = fields.tm_mon + 1;
  when.day = fields.tm_mday;
  when.hour = fields.tm_hour;
  when.minute = fields.tm_min;
  when.second = fields.tm_sec;
  return when;
}

std::string FormatShortDateTime(const LocalDateTime& when) {
  // Values outside the calendar print nothing, so none is worth the
  // arithmetic below (which must not overflow on an extreme year).
  if (!IsCalendarDate(when) && !IsClockTime(when)) return " ";
  struct tm fields;
  std::memset(&fields, 0, sizeof fields);
  if (IsCalendarDate(when)) {
    fields.tm_year = when.year - 1900;
    fields.tm_mon = when.month - 1;
    fields.tm_mday = when.day;
  }
  if (IsClockTime(when)) {
    fields.tm_hour = when.hour;
    fields.tm_min = when.minute;
    fields.tm_sec = when.second;
  }
  fields.tm_isdst = -1;
  // Day of the week and of the year for formats that show them; the copy
  // keeps the given fields even when mktime would normalise them.
  struct tm normalised = fields;
  if (::timegm(&normalised) != static_cast<time_t>(-1)) {
    fields.tm_wday = normalised.tm_wday;
    fields.tm_yday = normalised.tm_yday;
  }
  Formats formats = LocaleFormats();
  std::string date = IsCalendarDate(when) ? Format(formats.date, fields, formats.locale) : "";
  std::string time = IsClockTime(when) ? Format(formats.time, fields, formats.locale) : "";
  if (formats.locale != nullptr) ::freelocale(formats.locale);
  return date + " " + time;
}

}  // namespace qb
