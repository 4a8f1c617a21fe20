#include "config/scanner_list.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/folders.h"
#include "platform/global_lock.h"
#include "platform/local_time.h"
#include "platform/profile.h"

namespace qb {
namespace {

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

void WriteEntry(int position, const std::string& value) {
  ProfileWriteString(SettingsPath(), kSection, KeyOf(position).c_str(), value.c_str());
}

void DeleteEntriesFrom(int position) {
  for (int i = position; i <= kMaxScannerEntries; ++i) {
    ProfileWriteString(SettingsPath(), kSection, KeyOf(i).c_str(), nullptr);
  }
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
    WriteEntry(1, value);
    return true;
  }
  int keep = count < kMaxScannerEntries - 1 ? count : kMaxScannerEntries - 1;
  std::vector<std::string> kept;
  for (int i = 1; i <= keep; ++i) {
    char old[1024];
    if (ReadScannerEntry(i, old, sizeof old)) kept.emplace_back(old);
  }
  WriteEntry(1, value);
  int position = 2;
  for (const std::string& old : kept) WriteEntry(position++, old);
  DeleteEntriesFrom(position);
  return true;
}

bool RemoveScannerEntry(const char* address, const char* name, int connectionNumber) {
  GlobalLockGuard lock;
  std::string key = EntryKey(address, name, connectionNumber);
  std::vector<std::string> values;
  for (int i = 1; i <= kMaxScannerEntries; ++i) {
    char value[1024];
    if (ReadScannerEntry(i, value, sizeof value)) values.emplace_back(value);
  }
  int position = 1;
  for (const std::string& value : values) {
    if (value.compare(0, key.size(), key) == 0) continue;
    WriteEntry(position++, value);
  }
  DeleteEntriesFrom(position);
  return true;
}

bool ClearScannerEntries() {
  GlobalLockGuard lock;
  int count = CountScannerEntries();
  if (count > kMaxScannerEntries) count = kMaxScannerEntries;
  for (int i = 1; i <= count; ++i) {
    ProfileWriteString(SettingsPath(), kSection, KeyOf(i).c_str(), nullptr);
  }
  return true;
}

int NextJobNumber() {
  GlobalLockGuard lock;
  int counter = ProfileGetInt(SettingsPath(), "SCANJOB", "JobCount", 0);
  int job = counter == 0 ? 1 : counter;
  int next = counter == 0 ? 2 : counter == 9999 ? 1 : counter + 1;
  ProfileWriteString(SettingsPath(), "SCANJOB", "JobCount", std::to_string(next).c_str());
  return job;
}

}  // namespace qb
