// The host table file tvqnhost.ini as another instance or a person may
// have left it: the input is the whole file. It is loaded, a printer is
// recorded, the table is saved (merging when the counter moved), read
// back, and the announcement and notification counters are stepped.
// Stops when the saved file holds more than ten entries, one that is
// expired, or when the counters do not step.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_root.h"
#include "nameservice/host_table.h"
#include "platform/profile.h"

namespace {

qb::fuzz::FuzzRoot& Root() {
  static qb::fuzz::FuzzRoot root("");
  return root;
}

qb::LocalDateTime Noon() {
  qb::LocalDateTime when;
  when.year = 2024, when.month = 3, when.day = 1, when.hour = 12;
  return when;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Root();  // the machine root, before the first path is made
  const std::string path = qb::HostTablePath();
  qb::fuzz::FuzzRoot::WriteFile(path, data, size);
  const bool serviceMode = size > 0 && (data[0] & 1) != 0;

  qb::HostTable table(path, serviceMode);
  table.Load(Noon());
  if (table.list().size() > static_cast<size_t>(qb::kSavedHosts)) std::abort();
  table.Record("FUZZ,PRINTER\n[ID]", "10.9.9.9", Noon());
  // Another instance writes between our load and our save.
  if (size > 1 && (data[1] & 1) != 0) qb::ProfileWriteString(path, "ID", "id", "123");
  table.Save(Noon());
  const uint32_t counter = qb::ReadChangeCounter(path);
  if (counter < 2) std::abort();

  // The profile readers stop at a NUL byte where the writers go on: in a
  // file holding one, what was written need not read back. Elsewhere it
  // must: at most ten entries, none expired, ours among them unless ten
  // newer ones fill the table.
  const bool hasNul = std::memchr(data, 0, size) != nullptr;
  qb::HostTable reread(path, false);
  reread.Load(Noon());
  if (reread.list().size() > static_cast<size_t>(qb::kSavedHosts)) std::abort();
  if (!hasNul) {
    for (const qb::HostEntry& entry : reread.list().entries()) {
      if (qb::StampExpired(entry.stamp, Noon())) std::abort();
    }
    if (reread.list().FindByIp("10.9.9.9") == nullptr && reread.list().size() < 10) std::abort();
  }

  qb::ReadOwnAddresses(path);
  if (qb::AnnouncementDue(path)) qb::ClearAnnouncementDue(path);
  if (qb::AnnouncementDue(path)) std::abort();
  const uint32_t first = qb::NextNotifyId();
  const uint32_t second = qb::NextNotifyId();
  if (first == 0 || second == 0 || (second != first + 1 && second != 1)) std::abort();
  return 0;
}
