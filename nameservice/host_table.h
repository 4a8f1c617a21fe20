// The host table: the printers that asked for our name, kept in memory for
// the run and in the file tvqnhost.ini of the data folder, which every
// instance of the program on the machine shares.
//
//   [ID]     id           change counter: a writer increments it, so that
//                         another instance notices and merges on its save
//            qbxnotifyid  counter of the fax hand-off files
//   [HOST]   update       1: an announcement is due
//            scanner01..10  "stamp,ip,name", newest first
//   [MYADDR] myaddr01..10 our own addresses seen at the last announcement
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "nameservice/host_list.h"
#include "platform/clock_text.h"

namespace qb {

constexpr int kSavedHosts = 10;
constexpr int kSavedOwnAddresses = 10;

// DataFolder()/tvqnhost.ini.
std::string HostTablePath();

// One write of the table's entries, taken on the loop and done elsewhere.
struct HostTableWrite {
  std::string path;
  HostList entries;
  bool markUpdate = false;  // a new printer: an announcement is due
  LocalDateTime now;
};
// Any thread: writes the newest ten entries that are not expired (and
// update=1 when marked), then increments the change counter; returns the
// counter as it was before.
uint32_t WriteHostTable(HostTableWrite& write);

class HostTable {
 public:
  // `saveEachRecord`: service mode, where the file is written soon after
  // each record (the process may be ended without a save); elsewhere a new
  // printer only marks the table for the save at exit.
  HostTable(std::string path, bool saveEachRecord);

  // Replaces the list with the file's entries and remembers its change
  // counter (creating it as 1). `today` ranks the entries if there are
  // more than the list holds.
  void Load(const LocalDateTime& today);
  // Records a request (HostList::Record) at `now`, the name cut at a comma
  // or line end as the file would cut it, and marks the table for the save
  // at exit or, in service mode, for the next write.
  void Record(const char* upperName, const char* ip, const LocalDateTime& now);
  // Service mode: records are waiting to be written. Deliberately not
  // written at each record: a flood of requests would rewrite the file as
  // fast as they come, on the loop.
  bool WriteDue() const { return writeDue_; }
  // The waiting write (clearing the mark), to be done by WriteHostTable,
  // then WriteDone with its result on this table's thread.
  HostTableWrite TakeWrite(const LocalDateTime& now);
  void WriteDone(uint32_t before);
  // Merges what another instance wrote since our load, then writes the
  // newest ten entries that are not expired and increments the counter.
  void Save(const LocalDateTime& now);

  const HostList& list() const { return list_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool saveEachRecord_;
  HostList list_;
  uint32_t loadedCounter_ = 0;
  bool pending_ = false;   // a new printer not yet written
  bool writeDue_ = false;  // service mode: records not yet written
};

// The file's entries, in key order, added to `list`.
void ReadHostEntries(const std::string& path, const LocalDateTime& today, HostList* list);
// ID/id; 0 when absent.
uint32_t ReadChangeCounter(const std::string& path);

// Our own addresses as the last announcement saw them.
std::vector<std::string> ReadOwnAddresses(const std::string& path);
// Writes them as myaddr01.. (at most ten) and deletes the keys after them.
void WriteOwnAddresses(const std::string& path, const std::vector<std::string>& addresses);
// HOST/update is 1.
bool AnnouncementDue(const std::string& path);
void ClearAnnouncementDue(const std::string& path);

// A fresh number for a fax hand-off file: ID/qbxnotifyid as read (0 and
// 0xFFFFFFFF count as 1), leaving the next one in the file. Any thread.
uint32_t NextNotifyId();

// Copies the name of the first host-table entry with this dotted IPv4
// address into buffer (cut to size - 1); false and an empty buffer when
// the address has no name or the name service is not running. Called on
// the name service's loop thread.
bool LookupHostName(const char* dottedAddress, char* buffer, size_t size);

}  // namespace qb
