#include "storage/name_reservations.h"

#include <algorithm>

#include "platform/files.h"

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

void NameReservations::DropSettled() {
  auto now = std::chrono::steady_clock::now();
  std::erase_if(entries_, [&](const Entry& entry) {
    return now - entry.since > kLifetime || FileExists(entry.folder + entry.name);
  });
}

bool NameReservations::IsReserved(const std::string& folder, const std::string& pattern) {
  DropSettled();
  return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
    return entry.folder == folder && MatchesNamePattern(pattern, entry.name);
  });
}

void NameReservations::Reserve(const std::string& folder, const std::string& name) {
  entries_.push_back({folder, name, std::chrono::steady_clock::now()});
}

}  // namespace qb
