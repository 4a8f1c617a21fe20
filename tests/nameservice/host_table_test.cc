#include "nameservice/host_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "platform/profile.h"
#include "tests/unit/test_root.h"

namespace qb {
namespace {

LocalDateTime At(int year, int month, int day, int hour = 12) { return {year, month, day, hour}; }

class HostTableFile : public ::testing::Test {
 protected:
  std::string Get(const char* section, const char* key) {
    return ProfileGetString(path_, section, key, "?");
  }
  void Put(const char* section, const char* key, const char* value) {
    ProfileWriteString(path_, section, key, value);
  }

  // A table loaded on 1 March 2024, in service mode or not.
  std::unique_ptr<HostTable> Loaded(bool serviceMode = false) {
    auto table = std::make_unique<HostTable>(path_, serviceMode);
    table->Load(At(2024, 3, 1));
    return table;
  }

  test::TestRoot root_;
  std::string path_ = HostTablePath();
};

TEST_F(HostTableFile, SaveKeepsTheTenNewestAndDeletesTheKeysAfterThem) {
  auto table = Loaded();
  for (int i = 0; i < 11; ++i) {
    char name[16], ip[16];
    std::snprintf(name, sizeof name, "P%02d", i);
    std::snprintf(ip, sizeof ip, "10.0.0.%d", i);
    table->Record(name, ip, At(2024, 3, 1, i));
  }
  table->Save(At(2024, 3, 2));
  EXPECT_EQ(Get("HOST", "scanner01"), "20240301100000,10.0.0.10,P10");
  EXPECT_EQ(Get("HOST", "scanner10"), "20240301010000,10.0.0.1,P01");
  EXPECT_EQ(Get("HOST", "update"), "1");  // new printers: an announcement is due

  // Eight days on, every entry of the first day is past seven days: they
  // go, and so do their keys.
  table->Record("P10", "10.0.0.10", At(2024, 3, 9));
  table->Save(At(2024, 3, 9));
  EXPECT_EQ(Get("HOST", "scanner01"), "20240309120000,10.0.0.10,P10");
  EXPECT_EQ(Get("HOST", "scanner02"), "?");
  EXPECT_EQ(Get("HOST", "scanner10"), "?");
  EXPECT_EQ(table->list().size(), 11u);  // memory keeps them
}

TEST_F(HostTableFile, TheChangeCounterStartsAtOneAndStepsOnEachSave) {
  auto table = Loaded();
  EXPECT_EQ(Get("ID", "id"), "1");
  table->Save(At(2024, 3, 1));
  EXPECT_EQ(Get("ID", "id"), "2");
  Put("ID", "id", "4294967295");  // the largest counts as 1
  table->Save(At(2024, 3, 1));
  EXPECT_EQ(Get("ID", "id"), "2");
  EXPECT_EQ(Get("HOST", "update"), "?");  // nothing new was recorded
}

TEST_F(HostTableFile, SaveMergesWhatAnotherInstanceWroteSinceTheLoad) {
  auto ours = Loaded();
  ours->Record("OURS", "10.0.0.1", At(2024, 3, 1, 9));
  ours->Record("BOTH", "10.0.0.3", At(2024, 3, 1, 9));

  auto theirs = Loaded();
  theirs->Record("THEIRS", "10.0.0.2", At(2024, 3, 1, 10));
  theirs->Record("BOTH", "10.0.0.3", At(2024, 3, 1, 11));
  theirs->Save(At(2024, 3, 1, 12));  // the counter moves on

  ours->Save(At(2024, 3, 1, 13));
  EXPECT_EQ(Get("HOST", "scanner01"), "20240301110000,10.0.0.3,BOTH");  // the newer contact wins
  EXPECT_EQ(Get("HOST", "scanner02"), "20240301100000,10.0.0.2,THEIRS");
  EXPECT_EQ(Get("HOST", "scanner03"), "20240301090000,10.0.0.1,OURS");
  EXPECT_EQ(Get("HOST", "scanner04"), "?");
  EXPECT_EQ(ours->list().size(), 3u);

  // Without another writer, a save does not merge the file back in: an
  // entry deleted by hand stays deleted from the file's view.
  Put("HOST", "scanner02", nullptr);
  auto reloaded = Loaded();
  EXPECT_EQ(reloaded->list().size(), 2u);
}

// Service mode: records wait for one write, which the owner hands to
// WriteHostTable (on a worker in the program).
TEST_F(HostTableFile, ServiceModeRecordsAreWrittenTogetherByOneWrite) {
  auto table = Loaded(true);
  EXPECT_FALSE(table->WriteDue());
  table->Record("P1", "10.0.0.1", At(2024, 3, 1));
  table->Record("P2", "10.0.0.2", At(2024, 3, 1));
  EXPECT_EQ(Get("HOST", "scanner01"), "?");
  ASSERT_TRUE(table->WriteDue());
  HostTableWrite write = table->TakeWrite(At(2024, 3, 1));
  EXPECT_FALSE(table->WriteDue());
  table->WriteDone(WriteHostTable(write));
  const std::string both = Get("HOST", "scanner01") + " " + Get("HOST", "scanner02");
  EXPECT_NE(both.find("20240301120000,10.0.0.1,P1"), std::string::npos) << both;
  EXPECT_NE(both.find("20240301120000,10.0.0.2,P2"), std::string::npos) << both;
  EXPECT_EQ(Get("HOST", "update"), "1");
  EXPECT_EQ(Get("ID", "id"), "2");
  Put("HOST", "update", "0");
  table->Record("P1", "10.0.0.1", At(2024, 3, 2));  // known: no announcement due
  write = table->TakeWrite(At(2024, 3, 2));
  table->WriteDone(WriteHostTable(write));
  EXPECT_EQ(Get("HOST", "update"), "0");
  EXPECT_EQ(Get("ID", "id"), "3");
  table->Save(At(2024, 3, 2));  // our own writes are not taken for another instance's
  EXPECT_EQ(Get("ID", "id"), "4");
}

TEST_F(HostTableFile, AHandEditedFileLoadsWithoutHarm) {
  const std::string prefix5 = "20240301120000,10.0.0.5,";
  std::ofstream(path_) << "[ID]\nid=-1\n[HOST]\nSCANNER01=20240301120000,10.0.0.1,NAME,TAIL\n"
                           "scanner02=?\nscanner03=,,\nscanner04=onlystamp\nscanner05="
                        << prefix5 + std::string(400, 'x')
                        << "\nscanner11=20240301120000,10.0.0.11,ELEVEN\n"
                           "scanner06=20240301120000,10.0.0.6\n";
  auto table = Loaded();
  std::vector<std::string> names, ips;
  for (const HostEntry& entry : table->list().entries()) {
    names.push_back(entry.name);
    ips.push_back(entry.ip);
  }
  // Values are read through a 260-character buffer.
  const std::string longName(259 - prefix5.size(), 'x');
  EXPECT_EQ(names, (std::vector<std::string>{"NAME", "", "", longName, ""}));
  EXPECT_EQ(ips, (std::vector<std::string>{"10.0.0.1", "", "", "10.0.0.5", "10.0.0.6"}));
  // Unreadable stamps are dropped at the save without keeping the good
  // entries out, and the counter that read as -1 starts again.
  table->Save(At(2024, 3, 1));
  EXPECT_EQ(Get("ID", "id"), "2");
  EXPECT_EQ(Get("HOST", "scanner01"), "20240301120000,10.0.0.1,NAME");
  EXPECT_EQ(Get("HOST", "scanner02"), prefix5 + longName);
  EXPECT_EQ(Get("HOST", "scanner03"), "20240301120000,10.0.0.6,");
  EXPECT_EQ(Get("HOST", "scanner04"), "?");
}

TEST_F(HostTableFile, ANameFromTheNetworkCannotAddLinesToTheFileAndReadsBackAsWritten) {
  auto table = Loaded();
  table->Record("EVIL\r\n[ID]\nid=77", "10.0.0.1", At(2024, 3, 1));
  table->Record("A,B", "10.0.0.2", At(2024, 3, 1));
  EXPECT_STREQ(table->list().FindByIp("10.0.0.2")->name, "A");
  table->Save(At(2024, 3, 1));
  EXPECT_EQ(Get("HOST", "scanner01"), "20240301120000,10.0.0.2,A");
  EXPECT_EQ(Get("HOST", "scanner02"), "20240301120000,10.0.0.1,EVIL");
  EXPECT_EQ(Get("ID", "id"), "2");
}

TEST_F(HostTableFile, RepeatedKeysOfAHandEditedFileDoNotShowThroughAfterASave) {
  std::ofstream(path_) << "[HOST]\nscanner02=20240301120000,10.0.0.2,FIRST\n"
                          "scanner02=20240301120000,10.0.0.3,REPEAT\n[MYADDR]\nmyaddr02=a\nmyaddr02=b\n";
  auto table = Loaded();
  table->Save(At(2024, 3, 20));  // everything expired
  EXPECT_EQ(Get("HOST", "scanner02"), "?");
  WriteOwnAddresses(path_, {"10.0.0.9"});
  EXPECT_EQ(ReadOwnAddresses(path_), std::vector<std::string>{"10.0.0.9"});
}

TEST_F(HostTableFile, NotifyNumbersStartAtOneAndLeaveTheNextInTheFile) {
  EXPECT_EQ(NextNotifyId(), 1u);
  EXPECT_EQ(Get("ID", "qbxnotifyid"), "2");
  EXPECT_EQ(NextNotifyId(), 2u);
  Put("ID", "qbxnotifyid", "4294967295");
  EXPECT_EQ(NextNotifyId(), 1u);
}

TEST_F(HostTableFile, OwnAddressesAreRewrittenWholeAndTheUpdateFlagReadsOnlyOne) {
  WriteOwnAddresses(path_, {"10.0.0.1", "10.0.0.2", "10.0.0.3"});
  WriteOwnAddresses(path_, {"10.0.0.9"});
  EXPECT_EQ(ReadOwnAddresses(path_), (std::vector<std::string>{"10.0.0.9"}));
  Put("HOST", "update", "2");
  EXPECT_FALSE(AnnouncementDue(path_));
  Put("HOST", "update", "1");
  EXPECT_TRUE(AnnouncementDue(path_));
  ClearAnnouncementDue(path_);
  EXPECT_EQ(Get("HOST", "update"), "0");
}

}  // namespace
}  // namespace qb
