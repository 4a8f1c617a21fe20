#include "storage/confined_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/folder_beneath.h"
#include "storage/name_cleaning.h"
#include "tests/storage/storage_fixture.h"

namespace qb {
namespace {

namespace fs = std::filesystem;
using testing::StorageTest;

// A destination with a real sub-folder, a file, and links that lead out
// of it, to its parent, and to a folder inside it.
class ConfinedFolderTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    destination_ = MakeFolder("dest").string();
    outside_ = MakeFolder("outside").string();
    fs::create_directories(destination_ + "/sub/deeper");
    testing::WriteWholeFile(destination_ + "/file", "x");
    fs::create_directory_symlink(outside_, destination_ + "/link");
    fs::create_directory_symlink("..", destination_ + "/dotdot");
    fs::create_directory_symlink("sub", destination_ + "/inner");
  }

  std::string destination_;
  std::string outside_;
};

TEST_F(ConfinedFolderTest, OpenatTwoAndTheWalkGiveTheSameAnswers) {
  const std::pair<const char*, BeneathLookup> cases[] = {
      {"sub", BeneathLookup::kFolder},         {"./sub//deeper/", BeneathLookup::kFolder},
      {"", BeneathLookup::kFolder},            {"missing", BeneathLookup::kMissing},
      {"sub/missing/x", BeneathLookup::kMissing}, {"file", BeneathLookup::kNotFolder},
      {"link", BeneathLookup::kRefused},       {"link/x", BeneathLookup::kRefused},
      {"dotdot", BeneathLookup::kRefused},     {"inner", BeneathLookup::kRefused},
      {"sub/../sub", BeneathLookup::kRefused}, {"..", BeneathLookup::kRefused},
      {"/etc", BeneathLookup::kRefused},
  };
  for (const auto& [relative, expected] : cases) {
    EXPECT_EQ(LookUpFolderBeneath(destination_, relative), expected) << relative;
    EXPECT_EQ(LookUpFolderBeneathByWalk(destination_, relative), expected) << relative;
  }
  EXPECT_EQ(LookUpFolderBeneath(destination_ + "/none", "sub"), BeneathLookup::kFailed);
}

TEST_F(ConfinedFolderTest, ALinkOnTheWayLeavesTheFileInTheDestination) {
  bool refused = true;
  EXPECT_EQ(SubFolderBelow(destination_, "sub//deeper/", &refused), destination_ + "/sub/deeper");
  EXPECT_FALSE(refused);
  // A missing folder is named as asked: it is not made, so storing there fails.
  EXPECT_EQ(SubFolderBelow(destination_, "new", &refused), destination_ + "/new");
  EXPECT_FALSE(refused);
  EXPECT_EQ(SubFolderBelow(destination_, "", &refused), destination_);
  for (const char* hostile : {"link", "dotdot", "link/deeper", "inner", "/tmp", "sub/.."}) {
    EXPECT_EQ(SubFolderBelow(destination_, hostile, &refused), destination_) << hostile;
    EXPECT_TRUE(refused) << hostile;
  }
  EXPECT_TRUE(IsRealFolderBelow(destination_, "sub/deeper"));
  EXPECT_FALSE(IsRealFolderBelow(destination_, "link"));
  EXPECT_FALSE(IsRealFolderBelow(destination_, "missing"));
  EXPECT_FALSE(IsRealFolderBelow(destination_, "file"));
}

TEST(NetworkTextCleaning, ControlsLineEndsAndSemicolonsGoAndDoubleByteCharactersStay) {
  std::string text = "a;b\r\nc\td\x01\x7F" "e\x82\xA0\x81\\f";
  RemoveControlsAndSemicolons(&text);
  EXPECT_EQ(text, "abcde\x82\xA0\x81\\f");
  char buffer[16] = "x\ny;z";
  RemoveControlsAndSemicolons(buffer);
  EXPECT_STREQ(buffer, "xyz");
}

}  // namespace
}  // namespace qb
