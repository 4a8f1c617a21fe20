// The machine root of a fuzz target: a fresh folder (under /dev/shm, else
// /tmp) that QUILLBOX_ROOT points at for the life of the process, with a
// data folder, a settings file, a destination list, destination folders
// and a folder for temporary page files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qb::fuzz {

class FuzzRoot {
 public:
  // `settings` is the text of the settings file.
  explicit FuzzRoot(const std::string& settings);
  ~FuzzRoot();
  FuzzRoot(const FuzzRoot&) = delete;
  FuzzRoot& operator=(const FuzzRoot&) = delete;

  const std::string& path() const { return root_; }
  std::string DataDir() const { return root_ + "/var/lib/Tovira/Quillbox"; }
  std::string SettingsFile() const { return DataDir() + "/quern.ini"; }
  std::string DestinationList() const { return DataDir() + "/tvscan_f.bin"; }
  std::string ReceiveLog() const { return DataDir() + "/tvscanlog_f.bin"; }
  // Destination folders 1 and 2 (1 has a sub-folder "sub"); destination 3
  // names a folder that does not exist.
  std::string Destination(int number) const;
  std::string TempFolder() const { return root_ + "/tmp/pages"; }

  // Replaces the content of a file.
  static void WriteFile(const std::string& path, const uint8_t* data, size_t size);
  static void WriteFile(const std::string& path, const std::string& text);

  // Removes what conversations left in the destination folders and the
  // temporary folder, so that names never pile up across inputs.
  void ClearDocuments() const;

 private:
  std::string root_;
};

}  // namespace qb::fuzz
