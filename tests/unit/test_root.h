// A throw-away machine root for tests: QUILLBOX_ROOT points at a fresh
// temporary folder for the lifetime of the object.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/folders.h"

namespace qb::test {

class TestRoot {
 public:
  explicit TestRoot(bool withDataFolder = true) {
    char pattern[] = "/tmp/qbtest.XXXXXX";
    root_ = ::mkdtemp(pattern);
    ::setenv("QUILLBOX_ROOT", root_.c_str(), 1);
    ::unsetenv("QUILLBOX_OS_GENERATION");
    if (withDataFolder) std::filesystem::create_directories(DataDir());
    std::filesystem::create_directories(root_ + "/etc");
    std::filesystem::create_directories(root_ + "/tmp");
    LocateSettingsFile(qb::Env::Default());
  }
  ~TestRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    ::unsetenv("QUILLBOX_ROOT");
    ::unsetenv("QUILLBOX_OS_GENERATION");
  }
  TestRoot(const TestRoot&) = delete;
  TestRoot& operator=(const TestRoot&) = delete;

  const std::string& path() const { return root_; }
  std::string DataDir() const { return root_ + "/var/lib/Tovira/Quillbox"; }
  std::string SettingsFile() const { return DataDir() + "/quern.ini"; }

  void WriteSettings(const std::string& text) const {
    std::ofstream(SettingsFile(), std::ios::trunc) << text;
  }

 private:
  std::string root_;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of `text`, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Whether `line` starts with `shape`, where each 'd' stands for a digit and
// every other character for itself (time stamps, without std::regex, which
// trips a GCC warning in sanitizer builds).
inline bool StartsWithShape(const std::string& line, const std::string& shape) {
  if (line.size() < shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
  }
  return true;
}

// The names in `folder`, sorted.
inline std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace qb::test
