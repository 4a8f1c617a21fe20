#include "nameservice/host_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace qb {
namespace {

LocalDateTime Day(int year, int month, int day) { return {year, month, day, 12}; }
LocalDateTime At(int year, int month, int day, int minute = 0, int second = 0) {
  return {year, month, day, 0, minute, second};
}

std::vector<std::string> Listed(const HostList& list) {
  std::vector<std::string> out;
  for (const HostEntry& entry : list.entries()) out.push_back(std::string(entry.name) + "@" + entry.ip);
  return out;
}

TEST(HostList, ARequestUpdatesTheEntryWithItsNameAndTheOneWithItsAddress) {
  HostList list;
  EXPECT_TRUE(list.Record("ALPHA", "10.0.0.1", At(2024, 1, 1)));
  EXPECT_TRUE(list.Record("BETA", "10.0.0.2", At(2024, 1, 1)));
  EXPECT_FALSE(list.Record("ALPHA", "10.0.0.1", At(2024, 1, 2)));
  EXPECT_EQ(list.size(), 2u);
  EXPECT_STREQ(list.FindByIp("10.0.0.1")->stamp, "20240102000000");

  // Same name, new address: the entry follows the printer.
  EXPECT_TRUE(list.Record("ALPHA", "10.0.0.9", At(2024, 1, 3)));
  EXPECT_EQ(Listed(list), (std::vector<std::string>{"ALPHA@10.0.0.9", "BETA@10.0.0.2"}));
  // Same address, new name.
  EXPECT_TRUE(list.Record("GAMMA", "10.0.0.2", At(2024, 1, 4)));
  EXPECT_EQ(Listed(list), (std::vector<std::string>{"ALPHA@10.0.0.9", "GAMMA@10.0.0.2"}));
}

TEST(HostList, ANameMovingOntoAnotherPrintersAddressTakesThatEntryOver) {
  HostList list;
  list.Record("ALPHA", "10.0.0.1", At(2024, 1, 1));
  list.Record("BETA", "10.0.0.2", At(2024, 1, 1));
  // The name search moves ALPHA to .2, the address search then renames the
  // first entry at .2 (BETA) to ALPHA, and the repeat goes.
  list.Record("ALPHA", "10.0.0.2", At(2024, 1, 5));
  EXPECT_EQ(Listed(list), (std::vector<std::string>{"ALPHA@10.0.0.2"}));
  EXPECT_STREQ(list.entries()[0].stamp, "20240105000000");
}

TEST(HostList, SortIsDescendingByAddressThenNameAndKeepsTheNewestOfRepeats) {
  HostList list;
  HostEntry entry;
  for (const char* text : {"A,10.0.0.1,1", "B,10.0.0.10,2", "A,10.0.0.1,3", "C,9.0.0.1,4", "B,10.0.0.1,5"}) {
    std::string value = text;
    CopyField(entry.name, value.substr(0, 1).c_str());
    CopyField(entry.ip, value.substr(2, value.rfind(',') - 2).c_str());
    CopyField(entry.stamp, ("2024010100000" + value.substr(value.rfind(',') + 1)).c_str());
    list.Add(entry, At(2024, 1, 1));
  }
  list.SortByAddressWithoutRepeats(At(2024, 1, 1));
  // Byte-wise: "9." sorts above "10.", and "10.0.0.10" above "10.0.0.1".
  EXPECT_EQ(Listed(list), (std::vector<std::string>{"C@9.0.0.1", "B@10.0.0.10", "B@10.0.0.1",
                                                    "A@10.0.0.1"}));
  EXPECT_STREQ(list.entries()[3].stamp, "20240101000003");
}

TEST(HostList, AFloodFromNewAddressesKeepsTheListBoundedAndTheNewestEntries) {
  HostList list(16);
  for (int i = 0; i < 1000; ++i) {
    char ip[16];
    std::snprintf(ip, sizeof ip, "10.1.%d.%d", i / 250, i % 250);
    list.Record(("P" + std::to_string(i)).c_str(), ip, At(2024, 1, 1, i / 60, i % 60));
  }
  ASSERT_EQ(list.size(), 16u);
  for (const HostEntry& entry : list.entries()) EXPECT_GE(std::string(entry.stamp), "20240101001624");  // the 984th
}

TEST(HostList, OfTwoEntriesForOnePrinterTheOneASaveWouldKeepStays) {
  const LocalDateTime today = At(2024, 3, 1);
  HostList list;
  HostEntry entry;
  CopyField(entry.name, "P");
  CopyField(entry.ip, "10.0.0.1");
  for (const char* stamp : {"20991231000000", "2\xa2garbage", "20240301080000", "20240229080000"}) {
    CopyField(entry.stamp, stamp);
    list.Add(entry, today);
  }
  list.SortByAddressWithoutRepeats(today);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_STREQ(list.entries()[0].stamp, "20240301080000");
}

TEST(HostList, DayNumbersFollowTheTablesOwnCalendar) {
  EXPECT_EQ(DayNumber(2000, 1, 1), 1);
  EXPECT_EQ(DayNumber(2003, 12, 31), 1460);
  EXPECT_EQ(DayNumber(2004, 1, 1), 1462);  // the leap day is counted at the year's start
  EXPECT_EQ(DayNumber(2024, 2, 29), DayNumber(2024, 3, 1));  // months of a common year
  EXPECT_EQ(DayNumber(2023, 12, 31) + 1, DayNumber(2024, 1, 1));
  EXPECT_EQ(DayNumber(2024, 12, 31) + 2, DayNumber(2025, 1, 1));  // and added at the next
}

TEST(HostList, EntriesExpireAfterSevenDaysAndWhenStampedInTheFuture) {
  const LocalDateTime today = Day(2024, 3, 10);
  EXPECT_FALSE(StampExpired("20240310235959", today));
  EXPECT_FALSE(StampExpired("20240303000000", today));  // seven days
  EXPECT_TRUE(StampExpired("20240302000000", today));   // eight
  EXPECT_TRUE(StampExpired("20240311000000", today));   // tomorrow
  EXPECT_TRUE(StampExpired("20230310000000", today));
  // Across February of a leap year the table's calendar has no 29th.
  EXPECT_FALSE(StampExpired("20240222000000", Day(2024, 3, 1)));
  // Stamps a hand-edited file may hold.
  EXPECT_TRUE(StampExpired("", today));
  EXPECT_TRUE(StampExpired("2024131000", today));
  EXPECT_TRUE(StampExpired("2024x310000000", today));
}

}  // namespace
}  // namespace qb
