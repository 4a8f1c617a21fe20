// The scanner list and the job counter, kept in the settings file: the
// input is the whole settings file. Each operation runs on it as the
// connection server calls it: count, read, add a connection, remove it
// again, draw a job number.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "config/scanner_list.h"
#include "fuzz_root.h"

namespace {

qb::fuzz::FuzzRoot& Root() {
  static qb::fuzz::FuzzRoot root("");
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qb::fuzz::FuzzRoot::WriteFile(Root().SettingsFile(), data, size);
  const int count = qb::CountScannerEntries();
  // Each read parses the whole file again: the ends of the list suffice.
  for (int position : {1, 2, count, count + 1}) {
    char entry[64];
    qb::ReadScannerEntry(position, entry, sizeof entry);
    if (std::memchr(entry, '\0', sizeof entry) == nullptr) std::abort();
  }
  qb::AddScannerEntry("127.0.0.2", "", 7);
  // The new connection is on top of the list, whatever the file held.
  char top[64];
  if (!qb::ReadScannerEntry(1, top, sizeof top) || std::strncmp(top, "127.0.0.2,7,", 12) != 0) {
    std::abort();
  }
  if (qb::CountScannerEntries() > qb::kMaxScannerEntries + count) std::abort();
  qb::AddScannerEntry("127.0.0.3", "printer", 12);
  qb::RemoveScannerEntry("127.0.0.2", "", 7);
  qb::RemoveScannerEntry("127.0.0.3", "printer", 12);
  // The counter steps on from whatever number the file holds.
  qb::NextJobNumber();
  return 0;
}
