#include "storage/destinations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/trace.h"
#include "tests/storage/storage_fixture.h"

namespace qb {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::ScopedEnv;
using testing::StorageTest;
using testing::WriteWholeFile;

class DestinationTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    a_ = MakeFolder("A").string();
    b_ = MakeFolder("B").string();
  }
  std::string a_, b_;
};

TEST_F(DestinationTest, FirstMatchingLineWins) {
  WriteDestinationList("3;" + a_ + ";first;;\n3;" + b_ + ";second;;\n");
  DestinationRecord record;
  ASSERT_TRUE(LookupDestination(3, &record, Env::Default()));
  EXPECT_EQ(record.folder, a_);
  EXPECT_FALSE(LookupDestination(4, &record, Env::Default()));
}

TEST_F(DestinationTest, NumberIsReadByTheAtoiRule) {
  WriteDestinationList("0012;" + a_ + ";comment;1234;ext.so\nword;" + b_ + "\n");
  DestinationRecord record;
  ASSERT_TRUE(LookupDestination(12, &record, Env::Default()));
  EXPECT_EQ(record.numberText, "0012");
  EXPECT_EQ(record.accessCode, "1234");
  EXPECT_EQ(record.extensionLibrary, "ext.so");

  DestinationRecord zero;
  ASSERT_TRUE(LookupDestination(0, &zero, Env::Default()));
  EXPECT_EQ(zero.folder, b_);
  EXPECT_EQ(zero.accessCode, "");
  EXPECT_EQ(zero.extensionLibrary, "");
}

TEST_F(DestinationTest, ProbeLeavesTheFolderAsItWas) {
  WriteDestinationList("1;" + a_ + "\n");
  DestinationRecord record;
  ASSERT_TRUE(LookupDestination(1, &record, Env::Default()));
  EXPECT_TRUE(fs::is_empty(a_));

  // A user's own file of the probe's name is neither truncated nor removed.
  WriteWholeFile(fs::path(a_) / "test.txt", "keep me");
  ASSERT_TRUE(LookupDestination(1, &record, Env::Default()));
  EXPECT_EQ(ReadWholeFile(fs::path(a_) / "test.txt"), "keep me");
  EXPECT_EQ(std::distance(fs::directory_iterator(a_), fs::directory_iterator()), 1);
}

TEST_F(DestinationTest, UnusableFolderIsRefusedButTheRecordIsFilled) {
  WriteWholeFile(root_ / "plainfile", "x");
  WriteDestinationList("5;" + (root_ / "missing").string() + ";;99;\n6;" +
                       (root_ / "plainfile").string() + "\n7\n");
  DestinationRecord record;
  EXPECT_FALSE(LookupDestination(5, &record, Env::Default()));
  EXPECT_EQ(record.folder, (root_ / "missing").string());
  EXPECT_EQ(record.accessCode, "99");
  EXPECT_FALSE(LookupDestination(6, &record, Env::Default()));
  EXPECT_FALSE(LookupDestination(7, &record, Env::Default()));  // no folder field at all

  if (!testing::PermissionsAreIgnored(root_)) {
    fs::permissions(a_, fs::perms::owner_read | fs::perms::owner_exec);
    WriteDestinationList("8;" + a_ + "\n");
    EXPECT_FALSE(LookupDestination(8, &record, Env::Default()));
    fs::permissions(a_, fs::perms::owner_all);
    return;
  }
  // Root writes anywhere the permissions say no: a read-only file system
  // stops even root.
  std::string readOnly = (root_ / "readonly").string();
  fs::create_directories(readOnly);
  if (std::system(("mount -t tmpfs -o ro,size=1m tmpfs " + readOnly + " 2>/dev/null").c_str()) !=
      0) {
    GTEST_SKIP() << "no read-only folder can be made here";
  }
  WriteDestinationList("8;" + readOnly + "\n");
  EXPECT_FALSE(LookupDestination(8, &record, Env::Default()));
  std::system(("umount " + readOnly).c_str());
}

TEST_F(DestinationTest, HostileListContentNeverBreaksTheLookup) {
  std::string list;
  list += "\n\n";
  list += "9;" + std::string(1000, 'x') + ";;;\n";  // read in 519-byte pieces
  list += std::string("\x01\xff\x80;\0;bin;", 10) + "\n";
  list += "99999999999999999999;" + b_ + "\n";  // saturates, matches nothing
  list += "-2;" + b_ + "\n";
  list += "4;" + a_ + ";;5678\n";
  WriteDestinationList(list);
  DestinationRecord record;
  EXPECT_FALSE(LookupDestination(9, &record, Env::Default()));
  ASSERT_TRUE(LookupDestination(4, &record, Env::Default()));
  EXPECT_EQ(record.accessCode, "5678");
  EXPECT_EQ(record.extensionLibrary, "");
  EXPECT_FALSE(LookupDestination(65535, &record, Env::Default()));
}

TEST_F(DestinationTest, ListLocationFollowsTheGeneration) {
  DestinationRecord record;
  EXPECT_FALSE(LookupDestination(1, &record, Env::Default()));
  EXPECT_TRUE(fs::exists(DataFolderPath() / "tvscan_f.bin"));  // created empty

  ScopedEnv generation("QUILLBOX_OS_GENERATION", "0");
  EXPECT_FALSE(LookupDestination(1, &record, Env::Default()));
  EXPECT_FALSE(fs::exists(root_ / "etc/tvscan_f.bin"));  // opened as it is
  WriteWholeFile(root_ / "etc/tvscan_f.bin", "1;" + a_ + "\n");
  EXPECT_TRUE(LookupDestination(1, &record, Env::Default()));
}

TEST_F(DestinationTest, SubfoldersAreListedParentFirstThenInByteOrder) {
  for (const char* name : {"b", "A", "c", ".hidden"}) fs::create_directory(fs::path(a_) / name);
  WriteWholeFile(fs::path(a_) / "file.txt", "x");
  std::vector<std::string> expected = {"..", "A", "b", "c"};
  EXPECT_EQ(ListSubfolders(a_, Env::Default()), expected);
  EXPECT_TRUE(ListSubfolders((root_ / "missing").string(), Env::Default()).empty());
  EXPECT_TRUE(IsFolderReachable(a_));
  EXPECT_FALSE(IsFolderReachable((root_ / "plainfile").string()));
}

// A destination the receiver cannot use is told once per cause, with the
// folder and the system's reason; a new cause is told again.
TEST_F(DestinationTest, AnUnusableFolderIsToldOncePerCauseWithItsPathAndReason) {
  const std::string missing = (root_ / "gone").string();
  WriteDestinationList("7;" + missing + ";;;\n");
  DestinationRecord record;
  StartTraceCapture();
  EXPECT_FALSE(LookupDestination(7, &record, Env::Default()));
  EXPECT_FALSE(LookupDestination(7, &record, Env::Default()));
  WriteWholeFile(missing, "a file where the folder should be");
  EXPECT_FALSE(LookupDestination(7, &record, Env::Default()));
  std::vector<std::string> told = TakeCapturedTrace();
  StopTraceCapture();
  std::erase_if(told, [](const std::string& line) { return line.find("Destination 7") == std::string::npos; });
  ASSERT_EQ(told.size(), 2u);
  EXPECT_NE(told[0].find("(" + missing + ") cannot be used: a file cannot be created there: No such file or directory"),
            std::string::npos)
      << told[0];
  EXPECT_NE(told[1].find("Not a directory"), std::string::npos) << told[1];
}

}  // namespace
}  // namespace qb
