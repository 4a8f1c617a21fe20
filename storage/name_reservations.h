// Names handed out by MakeUniqueFileName whose files are not in place yet.
// The collision rule only looks at files already in the folder, so two
// jobs naming a document for the same desired name would otherwise both
// get it: the FTP sessions and the scan protocol name files concurrently and
// put them in place some time later. A name stays reserved until the job
// that holds it releases it, whatever way that job ends; from then on the
// folder itself decides. Only live jobs hold names, so a look-up costs the
// same however many jobs came before.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace qb {

// True when `pattern` ("?" one character, "*" any run, everything else
// itself, case-sensitive as the file system is) matches all of `name`.
bool MatchesNamePattern(const std::string& pattern, const std::string& name);

class NameReservations {
 public:
  // The one table of the process.
  static NameReservations& Instance();

  // A new holder identity for a job (never 0).
  static uint64_t NewOwner();

  // Serialises the probe-and-reserve step of the callers.
  std::mutex& Mutex() { return mutex_; }

  // With Mutex() held: whether a reservation in `folder` matches the name
  // pattern (of any holder).
  bool IsReserved(const std::string& folder, const std::string& pattern) const;
  // With Mutex() held: reserves folder + name for `owner`.
  void Reserve(const std::string& folder, const std::string& name, uint64_t owner);
  // Drops every name `owner` holds (takes Mutex() itself).
  void Release(uint64_t owner);
  // Names held now (tests).
  size_t Count();

 private:
  struct Entry {
    std::string folder;
    std::string name;
    uint64_t owner;
  };

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace qb
