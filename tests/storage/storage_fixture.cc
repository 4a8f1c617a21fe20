#include "tests/storage/storage_fixture.h"

#include <cstdlib>
#include <fstream>

#include "config/folders.h"
#include "platform/profile.h"
#include "storage/raw_dump.h"

namespace qb::testing {

namespace fs = std::filesystem;

void WriteWholeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

void StorageTest::SetUp() {
  unsetenv("QUILLBOX_CODEPAGE");
  setenv("LC_ALL", "C", 1);
  machine_ = std::make_unique<test::TestRoot>();
  root_ = machine_->path();
}

void StorageTest::TearDown() {
  std::error_code ignored;
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
  machine_.reset();
}

fs::path StorageTest::DataFolderPath() const { return machine_->DataDir(); }

fs::path StorageTest::MakeFolder(const std::string& name) const {
  fs::path folder = root_ / name;
  fs::create_directories(folder);
  return folder;
}

void StorageTest::WriteSetting(const char* section, const char* key,
                               const std::string& value) const {
  ASSERT_TRUE(ProfileWriteString(SettingsPath(), section, key, value.c_str()));
}

void StorageTest::WriteDestinationList(const std::string& text) const {
  WriteWholeFile(DataFolderPath() / "tvscan_f.bin", text);
}

std::string StorageTest::ReadReceiveLog() const {
  return ReadWholeFile(DataFolderPath() / "tvscanlog_f.bin");
}

void StorageTest::WriteReceiveLog(const std::string& text) const {
  WriteWholeFile(DataFolderPath() / "tvscanlog_f.bin", text);
}

bool PermissionsAreIgnored(const fs::path& scratch) {
  fs::path locked = scratch / "locked-probe";
  fs::create_directories(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  bool ignored = static_cast<bool>(std::ofstream(locked / "x"));
  fs::permissions(locked, fs::perms::owner_all);
  fs::remove_all(locked);
  return ignored;
}

}  // namespace qb::testing
