#include "config/scanner_list.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "config/folders.h"
#include "platform/global_lock.h"
#include "platform/local_time.h"
#include "platform/profile.h"

namespace qb {
namespace {

// "Scanner" at the start of a key, in any case.
bool StartsWithScanner(const std::string& key) {
  static const char kPrefix[] = "scanner";
  for (size_t i = 0; i < 7; ++i) {
    if (std::tolower(static_cast<unsigned char>(key[i])) != kPrefix[i]) return false;
  }
  return true;
}

constexpr char kSection[] = "SCANNERADDR";
constexpr size_t kKeyListBytes = 8800;

std::string KeyOf(int position) { return "Scanner" + std::to_string(position); }

std::string EntryKey(const char* address, const char* name, int connectionNumber) {
  char text[512];
  if (name != nullptr && name[0] != '\0') {
    std::snprintf(text, sizeof text, "%s[%s],%d", name, address, connectionNumber);
  } else {
    std::snprintf(text, sizeof text, "%s,%d", address, connectionNumber);
  }
  return text;
}

// The values of Scanner1..Scanner110 as the file holds them now, from one
// read of the section; an empty optional where a key is missing.
std::vector<std::optional<std::string>> ReadList() {
  std::vector<std::optional<std::string>> list(kMaxScannerEntries + 1);
  for (const auto& [name, value] : ProfileSection(SettingsPath(), kSection)) {
    if (name.size() < 8 || !StartsWithScanner(name)) continue;
    int position = std::atoi(name.c_str() + 7);
    if (position >= 1 && position <= kMaxScannerEntries && KeyOf(position).size() == name.size()) {
      list[position] = value;
    }
  }
  return list;
}

// Writes values to Scanner1.. in order and deletes every later key up to
// Scanner110, in one rewrite of the settings file.
void RewriteList(const std::vector<std::optional<std::string>>& current,
                 const std::vector<std::string>& values) {
  std::vector<ProfileUpdate> updates;
  int position = 1;
  for (const std::string& value : values) updates.push_back({KeyOf(position++), value});
  for (; position <= kMaxScannerEntries; ++position) {
    if (current[position]) updates.push_back({KeyOf(position), std::nullopt});
  }
  ProfileWriteMany(SettingsPath(), kSection, updates);
}

}  // namespace

int CountScannerEntries() {
  GlobalLockGuard lock;
  int count = 0;
  for (const std::string& name : ProfileKeyNames(SettingsPath(), kSection, kKeyListBytes)) {
    if (name.compare(0, 7, "Scanner") != 0) break;
    ++count;
  }
  return count;
}

bool ReadScannerEntry(int position, char* buffer, size_t size) {
  GlobalLockGuard lock;
  ProfileGetString(SettingsPath(), kSection, KeyOf(position).c_str(), "", buffer, size);
  return size > 0 && buffer[0] != '\0';
}

bool AddScannerEntry(const char* address, const char* name, int connectionNumber) {
  GlobalLockGuard lock;
  std::string value = EntryKey(address, name, connectionNumber) + "," + LocalTimeOfDayText();
  int count = CountScannerEntries();
  if (count == 0) {
    ProfileWriteString(SettingsPath(), kSection, "Scanner1", value.c_str());
    return true;
  }
  int keep = count < kMaxScannerEntries - 1 ? count : kMaxScannerEntries - 1;
  std::vector<std::optional<std::string>> current = ReadList();
  std::vector<std::string> values{value};
  for (int i = 1; i <= keep; ++i) {
    if (current[i] && !current[i]->empty()) values.push_back(*current[i]);
  }
  RewriteList(current, values);
  return true;
}

bool RemoveScannerEntry(const char* address, const char* name, int connectionNumber) {
  GlobalLockGuard lock;
  std::string key = EntryKey(address, name, connectionNumber);
  std::vector<std::optional<std::string>> current = ReadList();
  std::vector<std::string> remaining;
  for (int i = 1; i <= kMaxScannerEntries; ++i) {
    if (!current[i] || current[i]->empty()) continue;
    if (current[i]->compare(0, key.size(), key) != 0) remaining.push_back(*current[i]);
  }
  RewriteList(current, remaining);
  return true;
}

bool ClearScannerEntries() {
  GlobalLockGuard lock;
  int count = CountScannerEntries();
  if (count > kMaxScannerEntries) count = kMaxScannerEntries;
  std::vector<ProfileUpdate> updates;
  for (int i = 1; i <= count; ++i) updates.push_back({KeyOf(i), std::nullopt});
  ProfileWriteMany(SettingsPath(), kSection, updates);
  return true;
}

int NextJobNumber() {
  GlobalLockGuard lock;
  int counter = ProfileGetInt(SettingsPath(), "SCANJOB", "JobCount", 0);
  int job = counter == 0 ? 1 : counter;
  // A hand-edited counter may sit at the top of the int range (the reader
  // saturates there): it starts again at 1 rather than overflow.
  int next = counter == 0 ? 2 : counter == 9999 || counter == INT_MAX ? 1 : counter + 1;
  ProfileWriteString(SettingsPath(), "SCANJOB", "JobCount", std::to_string(next).c_str());
  return job;
}

}  // namespace qb
