// Who may use the receiver on a shared machine: the modes of what it makes,
// the trust of a program before it runs in the service's name, and shared
// records that another process truncates or replaces under it.
#include <gtest/gtest.h>


#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "platform/local_trust.h"
#include "platform/process_stats.h"
#include "platform/places.h"
#include "platform/shared_record.h"
#include "test_root.h"

namespace qb {
namespace {

namespace fs = std::filesystem;

fs::perms ModeOf(const std::string& path) {
  return fs::symlink_status(path).permissions() & fs::perms::mask;
}

std::string MakeFile(const std::string& path, fs::perms mode) {
  std::ofstream(path) << "#!/bin/sh\n";
  fs::permissions(path, mode);
  return path;
}

TEST(LocalTrustTest, WhatTheReceiverMakesIsForItsAccountAndGroupOnly) {
  test::TestRoot root;
  const std::string run = RunFolder();
  EXPECT_EQ(ModeOf(run), fs::perms(02770));
  EXPECT_EQ(ProgramGroup(), ProgramGroup());  // the run folder's group, stable

  std::FILE* settings = OpenGroupWritable(root.SettingsFile(), "w");
  ASSERT_NE(settings, nullptr);
  std::fclose(settings);
  EXPECT_EQ(ModeOf(root.SettingsFile()), fs::perms(0660));
  ASSERT_TRUE(CreateNewFile(root.DataDir() + "/scan.pdf"));
  EXPECT_EQ(ModeOf(root.DataDir() + "/scan.pdf"), fs::perms(0660));

  // A file left writable by others (an older version, a hand) is tightened
  // once; a link is never followed to change what it points at.
  const std::string old = MakeFile(root.DataDir() + "/tvscan_f.bin", fs::perms(0666));
  EXPECT_EQ(TightenOtherWrite(old), Tighten::kTightened);
  EXPECT_EQ(ModeOf(old), fs::perms(0664));
  EXPECT_EQ(TightenOtherWrite(old), Tighten::kAlreadyTight);
  const std::string target = MakeFile(root.path() + "/elsewhere", fs::perms(0666));
  fs::create_symlink(target, root.DataDir() + "/link");
  EXPECT_EQ(TightenOtherWrite(root.DataDir() + "/link"), Tighten::kAlreadyTight);
  EXPECT_EQ(ModeOf(target), fs::perms(0666));
}

TEST(LocalTrustTest, AccountsOutsideTheGroupAreNotTrusted) {
  test::TestRoot root;
  EXPECT_TRUE(IsTrustedAccount(0, 12345));
  EXPECT_TRUE(IsTrustedAccount(4000000001u, ProgramGroup()));  // primary group
  // No such account, not our group: an outsider (asked twice: the second
  // answer comes from the kept one).
  EXPECT_FALSE(IsTrustedAccount(4000000002u, ProgramGroup() + 1));
  EXPECT_FALSE(IsTrustedAccount(4000000002u, ProgramGroup() + 1));
}

class ProgramTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = root_.path() + "/conf";
    fs::create_directory(folder_);
    fs::permissions(folder_, fs::perms(0755));
    program_ = MakeFile(folder_ + "/QuernConf.exe", fs::perms(0755));
    settings_ = MakeFile(root_.SettingsFile(), fs::perms(0660));
  }
  void TearDown() override { RequireTrustedPrograms(false); }

  test::TestRoot root_;
  std::string folder_, program_, settings_;
};

TEST_F(ProgramTrustTest, OutsideServiceModeEveryPathIsLeftToTheFileModes) {
  RequireTrustedPrograms(false);
  EXPECT_TRUE(MayRunProgram("relative.so", ""));
}

TEST_F(ProgramTrustTest, ServiceModeRunsOnlyWhatNobodyElseCanChange) {
  RequireTrustedPrograms(true);
  EXPECT_TRUE(MayRunProgram(program_, settings_));
  EXPECT_TRUE(MayRunProgram(program_, ""));

  // A name for the library search, a missing file, a folder.
  EXPECT_FALSE(MayRunProgram("libext.so", settings_));
  EXPECT_FALSE(MayRunProgram(folder_ + "/missing.exe", settings_));
  EXPECT_FALSE(MayRunProgram(folder_, settings_));

  // Others may write the naming file, the program, or its folder.
  fs::permissions(settings_, fs::perms(0662));
  EXPECT_FALSE(MayRunProgram(program_, settings_));
  fs::permissions(settings_, fs::perms(0660));
  fs::permissions(program_, fs::perms(0757));
  EXPECT_FALSE(MayRunProgram(program_, settings_));
  fs::permissions(program_, fs::perms(0755));
  fs::permissions(folder_, fs::perms(0777));
  EXPECT_FALSE(MayRunProgram(program_, settings_));
  fs::permissions(folder_, fs::perms(0755));
  EXPECT_TRUE(MayRunProgram(program_, settings_));

  // Another account's program, or naming file, even unwritable by others.
  if (!RunningAsRoot()) return;  // only root can give files away
  auto giveTo = [](const char* owner, const std::string& path) {
    return std::system(("chown " + std::string(owner) + " '" + path + "'").c_str());
  };
  for (const std::string& path : {program_, settings_}) {
    ASSERT_EQ(giveTo("65534:65534", path), 0) << path;
    EXPECT_FALSE(MayRunProgram(program_, settings_)) << path;
    ASSERT_EQ(giveTo("0:0", path), 0) << path;
  }
  EXPECT_TRUE(MayRunProgram(program_, settings_));
}

TEST(SharedRecordTest, TruncatedReplacedOrMissingRecordsReadAsAbsent) {
  test::TestRoot root;
  const std::string path = RunFolder() + "/record";
  uint8_t bytes[68];
  EXPECT_FALSE(ReadSharedRecord(path, sizeof bytes, bytes));

  // The first update makes the file, zero-filled, for the group only.
  ASSERT_TRUE(UpdateSharedRecord(path, sizeof bytes, [](uint8_t* record) {
    EXPECT_EQ(record[67], 0);
    record[67] = 7;
  }));
  EXPECT_EQ(ModeOf(path), fs::perms(0660));
  ASSERT_TRUE(ReadSharedRecord(path, sizeof bytes, bytes));
  EXPECT_EQ(bytes[67], 7);

  // Cut short by another process: absent to a reader; a writer fills it
  // again, with zeros where the bytes went.
  fs::resize_file(path, 10);
  EXPECT_FALSE(ReadSharedRecord(path, sizeof bytes, bytes));
  ASSERT_TRUE(UpdateSharedRecord(path, sizeof bytes, [](uint8_t* record) { record[0] = 1; }));
  ASSERT_TRUE(ReadSharedRecord(path, sizeof bytes, bytes));
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[67], 0);
  fs::resize_file(path, 0);
  EXPECT_FALSE(ReadSharedRecord(path, sizeof bytes, bytes));

  // Replaced by a link or a folder: neither read nor written through.
  fs::remove(path);
  const std::string elsewhere = MakeFile(root.path() + "/elsewhere", fs::perms(0666));
  fs::create_symlink(elsewhere, path);
  EXPECT_FALSE(ReadSharedRecord(path, sizeof bytes, bytes));
  EXPECT_FALSE(UpdateSharedRecord(path, sizeof bytes, [](uint8_t*) { ADD_FAILURE(); }));
  EXPECT_EQ(fs::file_size(elsewhere), 10u);
  fs::remove(path);
  fs::create_directory(path);
  EXPECT_FALSE(ReadSharedRecord(path, sizeof bytes, bytes));
  EXPECT_FALSE(UpdateSharedRecord(path, sizeof bytes, [](uint8_t*) { ADD_FAILURE(); }));
}

}  // namespace
}  // namespace qb
