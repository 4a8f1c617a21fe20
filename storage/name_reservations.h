// Names handed out by MakeUniqueFileName that may not exist on disk yet.
// The collision rule only looks at files already in the folder, so two
// threads naming a document for the same desired name would otherwise both
// get it: the FTP sessions and the scan protocol name files concurrently and
// create them some time later. A name stays reserved until its file exists
// (the folder itself then shows the collision) or until it is so old that
// its job must have ended without creating it.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace qb {

// True when `pattern` ("?" one character, "*" any run, everything else
// itself, case-sensitive as the file system is) matches all of `name`.
bool MatchesNamePattern(const std::string& pattern, const std::string& name);

class NameReservations {
 public:
  static constexpr std::chrono::minutes kLifetime{60};

  // The one table of the process.
  static NameReservations& Instance();

  // Serialises the probe-and-reserve step of the callers.
  std::mutex& Mutex() { return mutex_; }

  // With Mutex() held: whether a live reservation in `folder` matches the
  // name pattern; drops reservations whose file now exists or that expired.
  bool IsReserved(const std::string& folder, const std::string& pattern);
  // With Mutex() held: reserves folder + name.
  void Reserve(const std::string& folder, const std::string& name);

 private:
  struct Entry {
    std::string folder;
    std::string name;
    std::chrono::steady_clock::time_point since;
  };
  void DropSettled();

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace qb
