// The settings-file reader and writer: the input is the whole settings
// file. Every reader runs on it, then one write per kind; after a write the
// value reads back as written and no other section loses its keys.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/settings.h"
#include "fuzz_root.h"
#include "platform/profile.h"

namespace {

qb::fuzz::FuzzRoot& Root() {
  static qb::fuzz::FuzzRoot root("");
  return root;
}

constexpr const char* kSections[] = {"MANAGEMENT", "SCANNERADDR", "IDS", "management", ""};
constexpr const char* kKeys[] = {"OverWrite", "Scanner1", "DepName", "overwrite", ""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Root().SettingsFile();
  qb::fuzz::FuzzRoot::WriteFile(path, data, size);

  for (const char* section : kSections) {
    for (const char* key : kKeys) {
      std::string value = qb::ProfileGetString(path, section, key, "?");
      char buffer[9];
      size_t copied = qb::ProfileGetString(path, section, key, "?", buffer, sizeof buffer);
      if (copied >= sizeof buffer || buffer[copied] != '\0') std::abort();
      if (value.compare(0, copied, buffer, copied) != 0) std::abort();
      qb::ProfileGetInt(path, section, key, -1);
    }
    qb::ProfileKeyNames(path, section, 64);
    qb::ProfileSection(path, section);
  }
  // The settings accessors on top of the reader.
  qb::GetOverWrite();
  qb::GetTOVScan();
  qb::GetMaxConnectNum();
  char department[9];
  qb::GetDepName(department, sizeof department);
  qb::ParseLeadingInt(std::string(reinterpret_cast<const char*>(data), size).c_str());

  // Writers keep the rest of the file; what they write reads back.
  const auto others = qb::ProfileSection(path, "IDS");
  if (qb::ProfileWriteString(path, "MANAGEMENT", "OverWrite", "0") &&
      qb::ProfileGetInt(path, "MANAGEMENT", "OverWrite", 7) != 0) {
    std::abort();
  }
  qb::ProfileWriteMany(path, "SCANNERADDR",
                       {{"Scanner1", std::string("127.0.0.2,5")}, {"Scanner2", std::nullopt}});
  qb::ProfileWriteString(path, "SCANJOB", "JobCount", nullptr);
  if (qb::ProfileSection(path, "IDS") != others) std::abort();
  return 0;
}
