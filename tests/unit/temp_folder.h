// A fresh folder for one test (under /tmp, or under `base`, such as
// /dev/shm for a second file system), removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace qb::test {

class TempFolder {
 public:
  explicit TempFolder(const std::string& base = "/tmp") {
    std::string pattern = base + "/qbfiles.XXXXXX";
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace qb::test
