#include "storage/name_reservations.h"

#include <algorithm>
#include <atomic>

namespace qb {

bool MatchesNamePattern(const std::string& pattern, const std::string& name) {
  // Iterative glob match with one back-tracking point for the last "*".
  size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

NameReservations& NameReservations::Instance() {
  static NameReservations table;
  return table;
}

uint64_t NameReservations::NewOwner() {
  static std::atomic<uint64_t> next{1};
  return next++;
}

bool NameReservations::IsReserved(const std::string& folder, const std::string& pattern) const {
  return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
    return entry.folder == folder && MatchesNamePattern(pattern, entry.name);
  });
}

void NameReservations::Reserve(const std::string& folder, const std::string& name, uint64_t owner) {
  entries_.push_back({folder, name, owner});
}

void NameReservations::Release(uint64_t owner) {
  if (owner == 0) return;
  std::lock_guard<std::mutex> hold(mutex_);
  std::erase_if(entries_, [owner](const Entry& entry) { return entry.owner == owner; });
}

size_t NameReservations::Count() {
  std::lock_guard<std::mutex> hold(mutex_);
  return entries_.size();
}

}  // namespace qb
