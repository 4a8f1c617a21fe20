// A throw-away machine for the storage tests: a temporary root with the
// data folder, QUILLBOX_ROOT pointing at it, and helpers for the settings
// file, the destination list and the receive log.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "tests/unit/test_root.h"

namespace qb::testing {

using test::ReadWholeFile;
void WriteWholeFile(const std::filesystem::path& path, const std::string& text);

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_;
  std::string old_;
};

class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path DataFolderPath() const;
  // A new folder below the temporary root.
  std::filesystem::path MakeFolder(const std::string& name) const;
  void WriteSetting(const char* section, const char* key, const std::string& value) const;
  void WriteDestinationList(const std::string& text) const;
  std::string ReadReceiveLog() const;
  void WriteReceiveLog(const std::string& text) const;

  std::unique_ptr<test::TestRoot> machine_;
  std::filesystem::path root_;
};

// True when the process ignores file permissions (it runs as root), so
// tests of unwritable folders cannot be made.
bool PermissionsAreIgnored(const std::filesystem::path& scratch);

}  // namespace qb::testing
