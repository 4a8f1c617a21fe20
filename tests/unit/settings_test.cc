#include "config/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "config/folders.h"
#include "config/scanner_list.h"
#include "platform/profile.h"
#include "test_root.h"

namespace qb {
namespace {

TEST(Folders, GenerationsChooseTheirPlaces) {
  test::TestRoot root;
  EXPECT_EQ(GetOsGeneration(), 2);
  EXPECT_EQ(SettingsPath(), root.SettingsFile());
  ::setenv("QUILLBOX_OS_GENERATION", "1", 1);
  EXPECT_EQ(DataFolder(), root.path() + "/srv/Tovira/Quillbox");
  ::setenv("QUILLBOX_OS_GENERATION", "0", 1);
  LocateSettingsFile(qb::Env::Default());
  EXPECT_EQ(SettingsPath(), root.path() + "/etc/quern.ini");
  std::ofstream(root.path() + "/etc/quern.ini") << "[MANAGEMENT]\nHDD=55\n";
  EXPECT_EQ(GetHDD(), 55);
}

TEST(Folders, FirstStartCarriesTheOldSettingsFileOverOnce) {
  test::TestRoot root;
  std::filesystem::remove(root.SettingsFile());
  std::string longLine(3000, 'x');
  std::ofstream(root.path() + "/etc/quern.ini") << "[MANAGEMENT]\nList=7\n;" << longLine << "\n";
  LocateSettingsFile(qb::Env::Default());
  EXPECT_EQ(test::ReadWholeFile(root.SettingsFile()), "[MANAGEMENT]\nList=7\n;" + longLine + "\n");
  EXPECT_EQ(std::filesystem::status(root.SettingsFile()).permissions(),
            std::filesystem::perms(0660));
  EXPECT_EQ(GetList(), 7);

  std::ofstream(root.path() + "/etc/quern.ini", std::ios::trunc) << "[MANAGEMENT]\nList=9\n";
  LocateSettingsFile(qb::Env::Default());
  EXPECT_EQ(GetList(), 7);  // the data-folder file is left alone once it exists
}

TEST(Folders, MissingDataFolderMeansDefaultsAndNoFile) {
  test::TestRoot root(/*withDataFolder=*/false);
  std::ofstream(root.path() + "/etc/quern.ini") << "[MANAGEMENT]\nFtpPort=2121\n";
  LocateSettingsFile(qb::Env::Default());
  EXPECT_FALSE(std::filesystem::exists(root.DataDir()));
  EXPECT_EQ(GetFtpPort(), 21);
  EXPECT_EQ(GetHDD(), 80);
  EXPECT_EQ(GetList(), 100);
}

TEST(Folders, TempFolderComesFromTmpUnchanged) {
  ::setenv("TMP", "/var/tmp/x", 1);
  InitTempFolder();
  EXPECT_EQ(TempFolderPath(), "/var/tmp/x/");
  ::unsetenv("TMP");
  InitTempFolder();
  EXPECT_EQ(TempFolderPath(), "/");
}

// Out-of-range numbers are clamped; Receive is on only at exactly 1,
// OverWrite at anything but 0. Each change is seen without a restart.
TEST(Settings, ClampsAndOnOffRules) {
  test::TestRoot root;
  const struct {
    const char* line;
    int (*get)();
    int expected;
  } cases[] = {
      {"MaxConnectNum=250", [] { return GetMaxConnectNum(); }, 100},
      {"MaxConnectNum=-5", [] { return GetMaxConnectNum(); }, 100},
      {"MaxConnectNum=0", [] { return GetMaxConnectNum(); }, 0},
      {"FTP_SocketTimeOut=10", [] { return GetFTP_SocketTimeOut(); }, 30},
      {"FTP_SocketTimeOut=99999", [] { return GetFTP_SocketTimeOut(); }, 3600},
      {"Receive=2", [] { return int{GetReceive()}; }, 0},
      {"Receive=1", [] { return int{GetReceive()}; }, 1},
      {"OverWrite=2", [] { return int{GetOverWrite()}; }, 1},
      {"OverWrite=0", [] { return int{GetOverWrite()}; }, 0},
  };
  for (const auto& c : cases) {
    root.WriteSettings(std::string("[MANAGEMENT]\n") + c.line + "\n");
    EXPECT_EQ(c.get(), c.expected) << c.line;
  }
}

TEST(Settings, MinimumTlsVersionFallsBackToOnePointTwo) {
  test::TestRoot root;
  char version[8] = "junk";
  root.WriteSettings("[MANAGEMENT]\nFTPS_MinTLSVersion=1.0\n");
  EXPECT_TRUE(GetFTPS_MinTLSVersion(version, sizeof version));
  EXPECT_STREQ(version, "1.0");
  for (const char* text : {"?", "", "1.4", "1.2.0", "TLS1.3"}) {
    root.WriteSettings(std::string("[MANAGEMENT]\nFTPS_MinTLSVersion=") + text + "\n");
    EXPECT_FALSE(GetFTPS_MinTLSVersion(version, sizeof version)) << text;
    EXPECT_STREQ(version, "1.2") << text;
  }
}

// A "?" means absent and an empty value present; the department name
// counts only with TOVScan and is cut to eight.
TEST(Settings, TextsAbsentPresentAndCut) {
  test::TestRoot root;
  const struct {
    const char* settings;
    bool (*get)(char*, size_t);
    bool present;
    const char* text;
  } cases[] = {{"[PATH]\nCONF=?\n", GetConf, false, ""},
               {"[PATH]\nCONF=\n", GetConf, true, ""},
               {"[IDS]\nTOVScan=0\nDepName=Accounting\n", GetDepName, false, ""},
               {"[IDS]\nTOVScan=1\nDepName=Accounting\n", GetDepName, true, "Accounti"},
               {"[IDS]\nTOVScan=1\n", GetDepName, true, ""}};
  for (const auto& c : cases) {
    char text[260] = "junk";
    root.WriteSettings(c.settings);
    EXPECT_EQ(c.get(text, sizeof text), c.present) << c.settings;
    EXPECT_STREQ(text, c.text) << c.settings;
  }
}

TEST(ScannerList, NewestFirstCappedAndPrefixRemoval) {
  test::TestRoot root;
  root.WriteSettings("");
  for (int i = 0; i < 111; ++i) AddScannerEntry("10.0.0.5", "", 1000 + i);
  EXPECT_EQ(CountScannerEntries(), 110);
  char value[128];
  ASSERT_TRUE(ReadScannerEntry(1, value, sizeof value));
  EXPECT_EQ(std::string(value).substr(0, 14), "10.0.0.5,1110,");
  ASSERT_TRUE(ReadScannerEntry(110, value, sizeof value));
  EXPECT_EQ(std::string(value).substr(0, 14), "10.0.0.5,1001,");

  ClearScannerEntries();
  EXPECT_EQ(CountScannerEntries(), 0);
  AddScannerEntry("10.0.0.5", "scan", 123);
  AddScannerEntry("10.0.0.6", "", 7);
  AddScannerEntry("10.0.0.5", "scan", 12);
  RemoveScannerEntry("10.0.0.5", "scan", 12);  // also takes 123: a prefix match
  EXPECT_EQ(CountScannerEntries(), 1);
  ASSERT_TRUE(ReadScannerEntry(1, value, sizeof value));
  EXPECT_EQ(std::string(value).substr(0, 11), "10.0.0.6,7,");
}

TEST(ScannerList, ConcurrentAddersAndRemoversLoseNothing) {
  test::TestRoot root;
  root.WriteSettings("");
  auto worker = [](const char* address) {
    // Three-digit numbers, so that no removal key is a prefix of another entry.
    for (int i = 100; i < 140; ++i) AddScannerEntry(address, "", i);
    for (int i = 100; i < 140; i += 2) RemoveScannerEntry(address, "", i);
  };
  std::thread first(worker, "10.0.0.1");
  std::thread second(worker, "10.0.0.2");
  first.join();
  second.join();
  // The 20 odd connection numbers of each address remain.
  EXPECT_EQ(CountScannerEntries(), 40);
}

TEST(ScannerList, ForeignFirstKeyHidesTheList) {
  test::TestRoot root;
  root.WriteSettings("[SCANNERADDR]\nOther=1\nScanner1=old\n");
  EXPECT_EQ(CountScannerEntries(), 0);
  AddScannerEntry("10.0.0.9", "", 3);
  char value[128];
  ReadScannerEntry(1, value, sizeof value);
  EXPECT_EQ(std::string(value).substr(0, 11), "10.0.0.9,3,");
  EXPECT_EQ(ProfileGetString(root.SettingsFile(), "SCANNERADDR", "Other", ""), "1");
}

TEST(JobCounter, StartsAtOneAndWrapsOnlyAt9999) {
  test::TestRoot root;
  root.WriteSettings("");
  EXPECT_EQ(NextJobNumber(), 1);
  EXPECT_EQ(NextJobNumber(), 2);
  root.WriteSettings("[SCANJOB]\nJobCount=9999\n");
  EXPECT_EQ(NextJobNumber(), 9999);
  EXPECT_EQ(NextJobNumber(), 1);
  root.WriteSettings("[SCANJOB]\nJobCount=12000\n");
  EXPECT_EQ(NextJobNumber(), 12000);
  EXPECT_EQ(NextJobNumber(), 12001);
  // A counter beyond the int range reads as its largest value, which does
  // not step past it.
  root.WriteSettings("[SCANJOB]\nJobCount=99999999999\n");
  EXPECT_EQ(NextJobNumber(), INT_MAX);
  EXPECT_EQ(NextJobNumber(), 1);
}

}  // namespace
}  // namespace qb
