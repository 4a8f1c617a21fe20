#include "platform/profile.h"

#include <gtest/gtest.h>

#include <thread>

#include "test_root.h"

namespace qb {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  test::TestRoot root_;
  std::string path_ = root_.path() + "/p.ini";
  void Write(const std::string& text) { std::ofstream(path_, std::ios::trunc) << text; }
};

TEST_F(ProfileTest, LookupIgnoresCaseAndTakesFirstMatch) {
  Write("; comment\n[Alpha]\nKey = one \nkey=two\n[ALPHA]\nKEY=three\n[beta]\nx=\"quoted \"\n");
  EXPECT_EQ(ProfileGetString(path_, "alpha", "KEY", "d"), "one");
  EXPECT_EQ(ProfileGetString(path_, "BETA", "X", "d"), "quoted ");
  EXPECT_EQ(ProfileGetString(path_, "alpha", "missing", "d"), "d");
  EXPECT_EQ(ProfileGetString(path_, "gamma", "key", "d"), "d");
  EXPECT_EQ(ProfileGetString(root_.path() + "/none.ini", "alpha", "key", "d"), "d");
  char small[4];
  EXPECT_EQ(ProfileGetString(path_, "alpha", "key", "", small, sizeof small), 3u);
  EXPECT_STREQ(small, "one");
  Write("[a]\nk=longer\n");
  ProfileGetString(path_, "a", "k", "", small, sizeof small);
  EXPECT_STREQ(small, "lon");
}

TEST_F(ProfileTest, IntegersParseALeadingSignedDecimal) {
  Write("[n]\na=42\nb=-17xyz\nc=abc\nd= +8\ne=99999999999999\nf=-99999999999999\ng=\n");
  EXPECT_EQ(ProfileGetInt(path_, "n", "a", 5), 42);
  EXPECT_EQ(ProfileGetInt(path_, "n", "b", 5), -17);
  EXPECT_EQ(ProfileGetInt(path_, "n", "c", 5), 0);
  EXPECT_EQ(ProfileGetInt(path_, "n", "d", 5), 8);
  EXPECT_EQ(ProfileGetInt(path_, "n", "e", 5), INT_MAX);
  EXPECT_EQ(ProfileGetInt(path_, "n", "f", 5), INT_MIN);
  EXPECT_EQ(ProfileGetInt(path_, "n", "g", 5), 0);
  EXPECT_EQ(ProfileGetInt(path_, "n", "absent", 5), 5);
}

TEST_F(ProfileTest, KeyNamesInFileOrderWithinTheLimit) {
  Write("[s]\nScanner1=a\nother=b\n[t]\nq=1\n");
  EXPECT_EQ(ProfileKeyNames(path_, "S"), (std::vector<std::string>{"Scanner1", "other"}));
  EXPECT_EQ(ProfileKeyNames(path_, "S", 12), (std::vector<std::string>{"Scanner1"}));
  EXPECT_TRUE(ProfileKeyNames(path_, "missing").empty());
}

TEST_F(ProfileTest, WritingKeepsEverythingElse) {
  Write("# top\n[one]\na=1\nb=2\n\n[two]\nc=3\n");
  EXPECT_TRUE(ProfileWriteString(path_, "ONE", "B", "20"));
  EXPECT_TRUE(ProfileWriteString(path_, "one", "new", "x"));
  EXPECT_TRUE(ProfileWriteString(path_, "three", "d", "4"));
  EXPECT_TRUE(ProfileWriteString(path_, "two", "c", nullptr));
  EXPECT_TRUE(ProfileWriteString(path_, "two", "absent", nullptr));
  EXPECT_EQ(test::ReadWholeFile(path_), "# top\n[one]\na=1\nB=20\nnew=x\n\n[two]\n[three]\nd=4\n");
}

TEST_F(ProfileTest, WritesFailQuietlyWithoutAFolderAndDeletesCreateNothing) {
  EXPECT_FALSE(ProfileWriteString(root_.path() + "/no/such/dir.ini", "a", "b", "c"));
  EXPECT_TRUE(ProfileWriteString(path_, "a", "b", nullptr));
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(ProfileTest, ConcurrentWritersLoseNoUpdate) {
  // Each writer opens the file on its own, as separate processes would.
  auto writer = [this](const char* prefix) {
    for (int i = 0; i < 100; ++i) {
      std::string key = std::string(prefix) + std::to_string(i);
      ProfileWriteString(path_, "race", key.c_str(), "v");
    }
  };
  std::thread first(writer, "a");
  std::thread second(writer, "b");
  first.join();
  second.join();
  EXPECT_EQ(ProfileKeyNames(path_, "race").size(), 200u);
}

}  // namespace
}  // namespace qb
