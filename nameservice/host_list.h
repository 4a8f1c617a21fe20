// The printers that asked for our name: the in-memory host list, how a
// request updates it, its two orders and the age rule for saving.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nameservice/name_datagram.h"
#include "platform/clock_text.h"

namespace qb {

// Fixed-size fields, so that recording a printer never allocates.
struct HostEntry {
  char name[kNameFieldBytes + 1] = {};  // the name the printer asked for
  char ip[16] = {};                     // its address, dotted
  char stamp[15] = {};                  // last contact, "YYYYMMDDhhmmss" local time
};

// "YYYYMMDDhhmmss" of a local time.
void FormatStamp(const LocalDateTime& when, char (&stamp)[15]);

// The day number of a date: days since 2000 by the table's own counting
// (its leap-year rule is kept as it is, so that stamps written by other
// instances age alike).
int64_t DayNumber(int year, int month, int day);
// A stamp is expired when today's day number minus the stamp's, taken as
// an unsigned 32-bit difference, exceeds 7: a stamp in the future is
// expired too. A stamp whose date cannot be read is expired.
bool StampExpired(const char* stamp, const LocalDateTime& today);

class HostList {
 public:
  // The table file keeps ten printers, but every datagram can name a new
  // one: without a bound, a flood of requests from forged addresses would
  // grow this list without end. 256 covers any real network segment of
  // printers; beyond it the entry with the oldest stamp makes room.
  static constexpr size_t kCapacity = 256;

  explicit HostList(size_t capacity = kCapacity);

  // Records a request from (name, ip) at `now`: the entry with that name
  // and ip, the entry with that name, and the entry with that ip each get
  // the new values (all three searches run, each takes the first entry in
  // list order); when none exists a new entry is added. Then the list is
  // put in address order without repeats. True when the pair (name, ip)
  // was not in the list before.
  bool Record(const char* name, const char* ip, const LocalDateTime& now);

  // The orders below rank entries by their stamps, newest first, where an
  // entry that a save on `today` would leave out (expired, in the future,
  // unreadable) ranks below every other: of two entries for one printer
  // the one that can be saved is kept.
  //
  // Adds an entry as it stands (loading, merging); the lowest-ranked gives
  // way when the list is full.
  void Add(const HostEntry& entry, const LocalDateTime& today);
  // Descending by ip, then by name (byte-wise); of entries equal in both,
  // only the highest-ranked stays.
  void SortByAddressWithoutRepeats(const LocalDateTime& today);
  // Highest-ranked first.
  void SortNewestFirst(const LocalDateTime& today);

  // The first entry in list order with this ip; null when there is none.
  const HostEntry* FindByIp(const char* ip) const;

  const std::vector<HostEntry>& entries() const { return entries_; }
  size_t size() const { return entries_.size(); }
  void Clear() { entries_.clear(); }

 private:
  HostEntry* FindFirst(const char* name, const char* ip);

  size_t capacity_;
  std::vector<HostEntry> entries_;
};

// Copies text into a fixed field, cut to fit, always terminated.
template <size_t N>
void CopyField(char (&field)[N], const char* text) {
  size_t i = 0;
  for (; i + 1 < N && text[i] != '\0'; ++i) field[i] = text[i];
  field[i] = '\0';
}

}  // namespace qb
