// Changes to the destination list: the text each change makes, and that a
// refused change leaves the file's bytes as they were.
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "admin/destination_edit.h"
#include "tests/unit/temp_folder.h"
#include "tests/unit/test_root.h"

namespace qb {
namespace {

using Kind = DestinationChange::Kind;

DestinationChange Change(Kind kind, std::string number, std::optional<std::string> folder = {},
                         std::optional<std::string> code = {}) {
  DestinationChange change;
  change.kind = kind;
  change.numberText = std::move(number);
  change.folder = std::move(folder);
  change.accessCode = std::move(code);
  return change;
}

struct EditCase {
  const char* name;
  std::string before;
  DestinationChange change;
  Refusal refusal;
  std::string after;  // when the change is made
};

TEST(DestinationEditTest, EachChangeTouchesItsLineOnly) {
  const std::string list = "1;/srv/a;Front;;\n2;/srv/b;Back;1234;/usr/lib/ext.so\n";
  const EditCase cases[] = {
      {"add to an empty list", "", Change(Kind::kAdd, "3", "/srv/c"), Refusal::kNone, "3;/srv/c;;;\n"},
      {"add after the last line", list, Change(Kind::kAdd, "3", "/srv/c", "42"), Refusal::kNone,
       list + "3;/srv/c;;42;\n"},
      {"add after a last line without its end", "1;/srv/a;;;", Change(Kind::kAdd, "2", "/srv/b"),
       Refusal::kNone, "1;/srv/a;;;\n2;/srv/b;;;\n"},
      {"add keeps the list's line ends", "1;/srv/a;;;\r\n", Change(Kind::kAdd, "2", "/srv/b"),
       Refusal::kNone, "1;/srv/a;;;\r\n2;/srv/b;;;\r\n"},
      {"add of a listed number", list, Change(Kind::kAdd, "2", "/srv/x"), Refusal::kListed, ""},
      {"add of a number listed with leading zeros", "02;/srv/b;;;\n", Change(Kind::kAdd, "2", "/srv/x"),
       Refusal::kListed, ""},
      {"set changes the given field only", list, Change(Kind::kSet, "2", {}, "99"), Refusal::kNone,
       "1;/srv/a;Front;;\n2;/srv/b;Back;99;/usr/lib/ext.so\n"},
      {"set may clear the code", list, Change(Kind::kSet, "2", {}, ""), Refusal::kNone,
       "1;/srv/a;Front;;\n2;/srv/b;Back;;/usr/lib/ext.so\n"},
      {"set of an unlisted number", list, Change(Kind::kSet, "7", "/srv/x"), Refusal::kNotListed, ""},
      {"remove takes every line of the number", "1;/a;;;\n5;/b;;;\n1;/c;;;\n",
       Change(Kind::kRemove, "1"), Refusal::kNone, "5;/b;;;\n"},
      {"remove keeps lines it does not understand", "# note\n1;/a;;;\n", Change(Kind::kRemove, "1"),
       Refusal::kNone, "# note\n"},
      {"remove of an unlisted number", list, Change(Kind::kRemove, "9"), Refusal::kNotListed, ""},
      {"a line longer than the receiver reads", "", Change(Kind::kAdd, "1", "/" + std::string(600, 'a')),
       Refusal::kInvalid, ""},
  };
  for (const EditCase& c : cases) {
    std::string updated;
    const Outcome outcome = EditDestinationText(c.before, c.change, &updated);
    EXPECT_EQ(outcome.refusal, c.refusal) << c.name << ": " << outcome.reason;
    if (c.refusal == Refusal::kNone) {
      EXPECT_EQ(updated, c.after) << c.name;
    }
  }
}

TEST(DestinationEditTest, ParsedEntriesFollowTheReceiversFieldRules) {
  const std::vector<DestinationEntry> entries =
      ParseDestinationList("1;/srv/a;Front;;\r\n\n12abc;/srv/b\nx;/srv/c;;5;/e.so;extra\n");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].number, 1);
  EXPECT_EQ(entries[0].folder, "/srv/a");
  EXPECT_EQ(entries[0].description, "Front");
  EXPECT_EQ(entries[1].number, 12);  // the receiver reads the leading digits
  EXPECT_EQ(entries[1].folder, "/srv/b");
  EXPECT_EQ(entries[2].number, 0);
  EXPECT_EQ(entries[2].accessCode, "5");
  EXPECT_EQ(entries[2].extensionLibrary, "/e.so");
}

class DestinationFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(scans_.path() + "/one");
    account_ = FindServiceAccount();
    std::ofstream(DestinationListPath()) << original_;
  }

  test::TestRoot root_;
  test::TempFolder scans_;
  ServiceAccount account_;
  const std::string original_ = "1;/srv/none;Old;;\n";
};

TEST_F(DestinationFileTest, RefusedChangesLeaveTheFileAsItWas) {
  DestinationChange longCode = Change(Kind::kAdd, "4", scans_ / "one", "123456789");
  DestinationChange badDescription = Change(Kind::kAdd, "4", scans_ / "one");
  badDescription.description = "a;b";
  DestinationChange badExtension = Change(Kind::kAdd, "4", scans_ / "one");
  badExtension.extensionLibrary = "/nowhere/lib.so";
  const DestinationChange cases[] = {
      Change(Kind::kAdd, "0", scans_ / "one"),
      Change(Kind::kAdd, "70000", scans_ / "one"),
      Change(Kind::kAdd, "4", "relative/folder"),
      Change(Kind::kAdd, "4", scans_ / "missing"),
      Change(Kind::kAdd, "4"),
      Change(Kind::kAdd, "1", scans_ / "one"),
      Change(Kind::kSet, "9", scans_ / "one"),
      Change(Kind::kRemove, "9"),
      longCode,
      badDescription,
      badExtension,
  };
  for (const DestinationChange& change : cases) {
    const Outcome outcome = ApplyDestinationChange(change, account_);
    EXPECT_FALSE(outcome.ok()) << change.numberText;
    EXPECT_FALSE(outcome.reason.empty());
    EXPECT_EQ(test::ReadWholeFile(DestinationListPath()), original_) << outcome.reason;
  }
}

TEST_F(DestinationFileTest, WritersInTurnLoseNoChange) {
  // Two writers at once, each adding its own numbers: every change that
  // said done is in the list, and the list is whole.
  auto writer = [&](int first) {
    for (int number = first; number < first + 25; ++number) {
      EXPECT_TRUE(ApplyDestinationChange(Change(Kind::kAdd, std::to_string(number), scans_ / "one"),
                                         account_)
                      .ok());
    }
  };
  std::thread a(writer, 100);
  std::thread b(writer, 200);
  a.join();
  b.join();
  std::vector<DestinationEntry> entries;
  std::string why;
  ASSERT_TRUE(ReadDestinations(Env::Default(), &entries, &why));
  EXPECT_EQ(entries.size(), 51u);
  for (const DestinationEntry& entry : entries) {
    if (entry.number != 1) {
      EXPECT_EQ(entry.folder, scans_ / "one");
    }
  }
}

}  // namespace
}  // namespace qb
