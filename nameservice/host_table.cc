#include "nameservice/host_table.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include "config/folders.h"
#include "platform/profile.h"

namespace qb {
namespace {

constexpr char kIdSection[] = "ID";
constexpr char kHostSection[] = "HOST";
constexpr char kAddressSection[] = "MYADDR";
constexpr size_t kValueMax = 259;  // what a 260-character read buffer holds
constexpr uint32_t kCounterMax = 0xFFFFFFFFu;

std::string NumberedKey(const char* prefix, int number) {
  char key[32];
  std::snprintf(key, sizeof key, "%s%02d", prefix, number);
  return key;
}

bool SameKey(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The values of prefix01..prefix<count> from one read of the section;
// nullopt where the key is missing. The first of repeated keys counts.
std::vector<std::optional<std::string>> NumberedValues(const std::string& path,
                                                       const char* section, const char* prefix,
                                                       int count) {
  std::vector<std::optional<std::string>> values(static_cast<size_t>(count));
  const auto keys = ProfileSection(path, section);
  for (int number = 1; number <= count; ++number) {
    const std::string wanted = NumberedKey(prefix, number);
    for (const auto& [key, value] : keys) {
      if (!SameKey(key, wanted)) continue;
      values[static_cast<size_t>(number - 1)] = value.substr(0, kValueMax);
      break;
    }
  }
  return values;
}

// The decimal counter as the file holds it; a negative number wraps as an
// unsigned one would, a larger one saturates.
uint32_t ParseCounter(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value >= kCounterMax) {
      value = kCounterMax;
      break;
    }
  }
  const auto result = static_cast<uint32_t>(value);
  return negative ? 0u - result : result;
}

uint32_t ReadCounter(const std::string& path, const char* key) {
  return ParseCounter(ProfileGetString(path, kIdSection, key, "0"));
}

// Reads a counter for stepping on: 0 and the largest value count as 1.
uint32_t UsableCounter(uint32_t value) { return value == 0 || value == kCounterMax ? 1 : value; }

void WriteCounter(const std::string& path, const char* key, uint32_t value) {
  ProfileWriteString(path, kIdSection, key, std::to_string(value).c_str());
}

// A value written into the file must stay on its line: a name from the
// network could otherwise add keys or sections of its own.
std::string OneLine(std::string text) {
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return text;
}

// Deletes of every prefixNN key from `first` to `last`, once per line that
// holds one: a delete takes only the first of repeated keys (a hand-edited
// file may have them), and the next would then show through.
void DeleteNumberedKeys(const std::string& path, const char* section, const char* prefix,
                        int first, int last, std::vector<ProfileUpdate>* updates) {
  const std::vector<std::string> keys = ProfileKeyNames(path, section);
  for (int number = first; number <= last; ++number) {
    const std::string wanted = NumberedKey(prefix, number);
    for (const std::string& key : keys) {
      if (SameKey(key, wanted)) updates->push_back({wanted, std::nullopt});
    }
  }
}

}  // namespace

std::string HostTablePath() { return DataFolder() + "/tvqnhost.ini"; }

void ReadHostEntries(const std::string& path, const LocalDateTime& today, HostList* list) {
  for (const auto& value : NumberedValues(path, kHostSection, "scanner", kSavedHosts)) {
    if (!value || *value == "?") continue;
    // stamp,ip,name: the name ends at a further comma.
    const std::string& text = *value;
    size_t first = text.find(',');
    size_t second = first == std::string::npos ? std::string::npos : text.find(',', first + 1);
    size_t third = second == std::string::npos ? std::string::npos : text.find(',', second + 1);
    HostEntry entry;
    CopyField(entry.stamp, text.substr(0, first).c_str());
    if (first != std::string::npos) {
      CopyField(entry.ip, text.substr(first + 1, second - (first + 1)).c_str());
    }
    if (second != std::string::npos) {
      CopyField(entry.name, text.substr(second + 1, third - (second + 1)).c_str());
    }
    list->Add(entry, today);
  }
}

uint32_t ReadChangeCounter(const std::string& path) { return ReadCounter(path, "id"); }

HostTable::HostTable(std::string path, bool saveEachRecord)
    : path_(std::move(path)), saveEachRecord_(saveEachRecord) {}

void HostTable::Load(const LocalDateTime& today) {
  list_.Clear();
  ReadHostEntries(path_, today, &list_);
  loadedCounter_ = ReadChangeCounter(path_);
  if (loadedCounter_ == 0) {
    loadedCounter_ = 1;
    WriteCounter(path_, "id", 1);
  }
}

void HostTable::Record(const char* upperName, const char* ip, const LocalDateTime& now) {
  // The file keeps a name up to a comma or a line end; recorded the same
  // way, an entry reads back as it was written and merges with itself.
  char name[kNameFieldBytes + 1];
  CopyField(name, upperName);
  name[std::strcspn(name, ",\r\n")] = '\0';
  const bool pairIsNew = list_.Record(name, ip, now);
  pending_ = pending_ || pairIsNew;
  if (saveEachRecord_) writeDue_ = true;
}

HostTableWrite HostTable::TakeWrite(const LocalDateTime& now) {
  HostTableWrite write{path_, list_, pending_, now};
  pending_ = false;
  writeDue_ = false;
  return write;
}

void HostTable::WriteDone(uint32_t before) {
  // No merge here: when another instance wrote since our load, the counter
  // stays as loaded so that the next Save still merges its entries.
  if (before == loadedCounter_) loadedCounter_ = UsableCounter(before) + 1;
}

void HostTable::Save(const LocalDateTime& now) {
  if (ReadChangeCounter(path_) != loadedCounter_) {
    HostList theirs(kSavedHosts);
    ReadHostEntries(path_, now, &theirs);
    for (const HostEntry& entry : theirs.entries()) list_.Add(entry, now);
    list_.SortByAddressWithoutRepeats(now);
  }
  HostTableWrite write = TakeWrite(now);
  const uint32_t before = WriteHostTable(write);
  list_ = std::move(write.entries);
  loadedCounter_ = UsableCounter(before) + 1;
}

uint32_t WriteHostTable(HostTableWrite& write) {
  const LocalDateTime& now = write.now;
  const std::string& path = write.path;
  write.entries.SortNewestFirst(now);
  std::vector<ProfileUpdate> updates;
  if (write.markUpdate) updates.push_back({"update", std::string("1")});
  int written = 0;
  for (const HostEntry& entry : write.entries.entries()) {
    if (written == kSavedHosts) break;
    // Entries left out rank last: the first of them ends the walk.
    if (StampExpired(entry.stamp, now)) break;
    std::string value = std::string(entry.stamp) + "," + entry.ip + "," + entry.name;
    updates.push_back({NumberedKey("scanner", ++written), OneLine(std::move(value))});
  }
  DeleteNumberedKeys(path, kHostSection, "scanner", written + 1, kSavedHosts, &updates);
  ProfileWriteMany(path, kHostSection, updates);
  const uint32_t before = ReadChangeCounter(path);
  WriteCounter(path, "id", UsableCounter(before) + 1);
  return before;
}

std::vector<std::string> ReadOwnAddresses(const std::string& path) {
  std::vector<std::string> addresses;
  for (const auto& value : NumberedValues(path, kAddressSection, "myaddr", kSavedOwnAddresses)) {
    if (value && *value != "?") addresses.push_back(*value);
  }
  return addresses;
}

void WriteOwnAddresses(const std::string& path, const std::vector<std::string>& addresses) {
  std::vector<ProfileUpdate> updates;
  int number = 1;
  for (; number <= kSavedOwnAddresses && static_cast<size_t>(number) <= addresses.size(); ++number) {
    updates.push_back({NumberedKey("myaddr", number), OneLine(addresses[number - 1])});
  }
  DeleteNumberedKeys(path, kAddressSection, "myaddr", number, kSavedOwnAddresses, &updates);
  ProfileWriteMany(path, kAddressSection, updates);
}

bool AnnouncementDue(const std::string& path) {
  return ProfileGetInt(path, kHostSection, "update", 0) == 1;
}

void ClearAnnouncementDue(const std::string& path) {
  ProfileWriteString(path, kHostSection, "update", "0");
}

uint32_t NextNotifyId() {
  // The hand-off worker is the caller in the program; tests call it too.
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  const std::string path = HostTablePath();
  const uint32_t id = UsableCounter(ReadCounter(path, "qbxnotifyid"));
  WriteCounter(path, "qbxnotifyid", id + 1);
  return id;
}

}  // namespace qb
