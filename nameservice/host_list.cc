#include "nameservice/host_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qb {
namespace {

constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr uint32_t kKeepDays = 7;

// Value of `count` decimal digits; false when one is not a digit.
bool ReadDigits(const char* text, int count, int* value) {
  *value = 0;
  for (int i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + (text[i] - '0');
  }
  return true;
}

// Newest first; an entry a save would leave out ranks below any other.
struct NewerFirst {
  const LocalDateTime& today;
  bool operator()(const HostEntry& a, const HostEntry& b) const {
    const bool aLeftOut = StampExpired(a.stamp, today);
    const bool bLeftOut = StampExpired(b.stamp, today);
    if (aLeftOut != bLeftOut) return bLeftOut;
    return std::strcmp(a.stamp, b.stamp) > 0;
  }
};

}  // namespace

void FormatStamp(const LocalDateTime& when, char (&stamp)[15]) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", when.year, when.month, when.day,
                when.hour, when.minute, when.second);
  CopyField(stamp, text);
}

int64_t DayNumber(int year, int month, int day) {
  const int64_t y = year - 2000;
  int64_t leapYears = y / 4;
  if (y % 4 == 0 && leapYears > 1) --leapYears;
  const int64_t base = 366 * leapYears + 365 * (y - leapYears);
  const int monthIndex = month >= 1 && month <= 12 ? month - 1 : 0;
  return base + kDaysBeforeMonth[monthIndex] + day;
}

bool StampExpired(const char* stamp, const LocalDateTime& today) {
  int year, month, day;
  if (!ReadDigits(stamp, 4, &year) || !ReadDigits(stamp + 4, 2, &month) ||
      !ReadDigits(stamp + 6, 2, &day) || month < 1 || month > 12) {
    return true;
  }
  const uint32_t age = static_cast<uint32_t>(DayNumber(today.year, today.month, today.day)) -
                       static_cast<uint32_t>(DayNumber(year, month, day));
  return age > kKeepDays;
}

HostList::HostList(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {
  entries_.reserve(capacity_);
}

HostEntry* HostList::FindFirst(const char* name, const char* ip) {
  for (HostEntry& entry : entries_) {
    if ((name == nullptr || std::strcmp(entry.name, name) == 0) &&
        (ip == nullptr || std::strcmp(entry.ip, ip) == 0)) {
      return &entry;
    }
  }
  return nullptr;
}

bool HostList::Record(const char* name, const char* ip, const LocalDateTime& now) {
  char stamp[15];
  FormatStamp(now, stamp);
  bool matched = false;
  HostEntry* same = FindFirst(name, ip);
  const bool pairIsNew = same == nullptr;
  if (same != nullptr) {
    CopyField(same->stamp, stamp);
    matched = true;
  }
  if (HostEntry* sameName = FindFirst(name, nullptr)) {
    CopyField(sameName->ip, ip);
    CopyField(sameName->stamp, stamp);
    matched = true;
  }
  if (HostEntry* sameIp = FindFirst(nullptr, ip)) {
    CopyField(sameIp->name, name);
    CopyField(sameIp->stamp, stamp);
    matched = true;
  }
  if (!matched) {
    HostEntry fresh;
    CopyField(fresh.name, name);
    CopyField(fresh.ip, ip);
    CopyField(fresh.stamp, stamp);
    Add(fresh, now);
  }
  SortByAddressWithoutRepeats(now);
  return pairIsNew;
}

void HostList::Add(const HostEntry& entry, const LocalDateTime& today) {
  if (entries_.size() < capacity_) {
    entries_.push_back(entry);
    return;
  }
  const NewerFirst newer{today};
  auto lowest = std::min_element(entries_.begin(), entries_.end(),
                                 [&](const HostEntry& a, const HostEntry& b) { return newer(b, a); });
  if (!newer(*lowest, entry)) *lowest = entry;
}

void HostList::SortByAddressWithoutRepeats(const LocalDateTime& today) {
  const NewerFirst newer{today};
  std::sort(entries_.begin(), entries_.end(), [&](const HostEntry& a, const HostEntry& b) {
    if (int byIp = std::strcmp(a.ip, b.ip)) return byIp > 0;
    if (int byName = std::strcmp(a.name, b.name)) return byName > 0;
    return newer(a, b);
  });
  auto end = std::unique(entries_.begin(), entries_.end(), [](const HostEntry& a, const HostEntry& b) {
    return std::strcmp(a.ip, b.ip) == 0 && std::strcmp(a.name, b.name) == 0;
  });
  entries_.erase(end, entries_.end());
}

void HostList::SortNewestFirst(const LocalDateTime& today) {
  std::stable_sort(entries_.begin(), entries_.end(), NewerFirst{today});
}

const HostEntry* HostList::FindByIp(const char* ip) const {
  for (const HostEntry& entry : entries_) {
    if (std::strcmp(entry.ip, ip) == 0) return &entry;
  }
  return nullptr;
}

}  // namespace qb
