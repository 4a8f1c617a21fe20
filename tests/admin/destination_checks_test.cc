// The checks a destination passes before it is written: each case is a
// value the receiver would trip on later, or one it takes.
#include <filesystem>
#include <fstream>
#include <span>
#include <string>

#include <gtest/gtest.h>

#include "admin/destination_checks.h"
#include "platform/account_access.h"
#include "tests/unit/temp_folder.h"

namespace qb {
namespace {

struct NumberCase {
  std::string text;
  bool valid;
  int number;
};

TEST(DestinationChecksTest, NumberIsDecimalWithinTheProtocolsRange) {
  const NumberCase cases[] = {
      {"1", true, 1},        {"65535", true, 65535}, {"007", true, 7},   {"0", false, 0},
      {"65536", false, 0},   {"-1", false, 0},       {"", false, 0},     {"12a", false, 0},
      {" 3", false, 0},      {"999999", false, 0},   {"+4", false, 0},
  };
  for (const NumberCase& c : cases) {
    int number = 0;
    const Outcome outcome = CheckDestinationNumber(c.text, &number);
    EXPECT_EQ(outcome.ok(), c.valid) << "\"" << c.text << "\"";
    if (c.valid) {
      EXPECT_EQ(number, c.number) << c.text;
    }
    if (!c.valid) {
      EXPECT_EQ(outcome.refusal, Refusal::kInvalid);
      EXPECT_NE(outcome.reason.find("65535"), std::string::npos) << outcome.reason;
    }
  }
}

struct TextCase {
  std::string text;
  bool valid;
  const char* reasonPart;
};

template <typename Check>
void ExpectOutcomes(std::span<const TextCase> cases, Check check) {
  for (const TextCase& c : cases) {
    const Outcome outcome = check(c.text);
    EXPECT_EQ(outcome.ok(), c.valid) << c.text;
    EXPECT_NE(outcome.reason.find(c.reasonPart), std::string::npos) << c.text << ": " << outcome.reason;
  }
}

TEST(DestinationChecksTest, FolderTextIsWhatTheListAndReceiverCanHold) {
  const TextCase cases[] = {
      {"/srv/scans/front-desk", true, ""},
      {"/srv/scans/with space", true, ""},
      {"srv/scans", false, "absolute"},
      {"", false, "absolute"},
      {"/srv/scans/", false, "ends with /"},
      {"/", false, "root"},
      {"/srv/a;b", false, ";"},
      {"/srv/a\nb", false, ";"},
      {"/" + std::string(258, 'a'), true, ""},
      {"/" + std::string(259, 'a'), false, "at most 259"},
  };
  ExpectOutcomes(cases, CheckFolderText);
}

TEST(DestinationChecksTest, AccessCodeIsUpToEightDigits) {
  const TextCase cases[] = {
      {"", true, ""},          {"1234", true, ""},       {"12345678", true, ""},
      {"123456789", false, "8"}, {"12a4", false, "digits"}, {"-123", false, "digits"},
      {"12 34", false, "digits"},
  };
  ExpectOutcomes(cases, CheckAccessCode);
}

TEST(DestinationChecksTest, DescriptionCannotStartAFieldOrALine) {
  const TextCase cases[] = {
      {"Front desk", true, ""}, {"", true, ""}, {"a;b", false, ";"}, {"a\r\nb", false, ";"},
  };
  for (const TextCase& c : cases) EXPECT_EQ(CheckDescription(c.text).ok(), c.valid) << c.text;
}

TEST(DestinationChecksTest, ExtensionMustLoadAndExportTheEntryPoint) {
  test::TempFolder folder;
  std::ofstream(folder / "not-a-library.so") << "text";
  // A copy of the example that any account could replace: the service
  // would never load it.
  std::filesystem::create_directories(folder / "open");
  std::filesystem::copy_file(QB_EXAMPLE_EXTENSION, folder / "open/lib.so");
  std::filesystem::permissions(folder / "open/lib.so", std::filesystem::perms(0666),
                               std::filesystem::perm_options::replace);
  const TextCase cases[] = {
      {"", true, ""},
      {QB_EXAMPLE_EXTENSION, true, ""},
      {"libquern_ext_example.so", false, "absolute"},
      {folder / "open/lib.so", false, "writable by others"},
      {folder / "missing.so", false, "does not exist"},
      {folder / "not-a-library.so", false, "does not load"},
      // A real library without the function the receiver calls.
      {"/lib/x86_64-linux-gnu/libm.so.6", false, "quernExtExpFunc"},
  };
  const ServiceAccount account{CurrentAccount(), 0, "receiver", "receivers"};
  // The last case needs a library that only some systems keep there.
  const bool withLibm = std::filesystem::exists(std::end(cases)[-1].text);
  const size_t count = std::size(cases) - (withLibm ? 0 : 1);
  ExpectOutcomes(std::span(cases, count),
                 [&](const std::string& path) { return CheckExtensionLibrary(path, account); });
}

// The receiver's account is not this one: a folder root may write can
// still refuse it, and the fix names its account and group.
TEST(DestinationChecksTest, FolderMustBeWritableByTheReceiversAccount) {
  test::TempFolder root;
  const ServiceAccount account{65534, 65534, "scanner", "scanners"};
  std::filesystem::create_directories(root / "open");
  std::filesystem::create_directories(root / "closed");
  std::filesystem::create_directories(root / "shut/inner");
  std::ofstream(root / "file") << "x";
  namespace fs = std::filesystem;
  const auto setMode = [](const std::string& path, fs::perms mode) {
    fs::permissions(path, mode, fs::perm_options::replace);
  };
  setMode(root.path(), fs::perms(0755));
  setMode(root / "open", fs::perms(0777));
  setMode(root / "closed", fs::perms(0755));
  setMode(root / "shut", fs::perms(0700));
  setMode(root / "shut/inner", fs::perms(0777));

  struct Case {
    std::string folder;
    bool usable;
    const char* reasonPart;
    const char* fixPart;
  };
  const Case cases[] = {
      {root / "open", true, "", ""},
      {root / "missing/deeper", false, "does not exist", "install -d -o scanner -g scanners -m 2770"},
      {root / "file", false, "is not a folder", ""},
      {root / "closed", false, "cannot create files", "chgrp scanners"},
      {root / "shut/inner", false, "cannot pass through", "chmod o+x"},
  };
  // An account this machine's user database does not know (a service's
  // account in another root) still has its unit's group.
  std::filesystem::create_directories(root / "grouped");
  setMode(root / "grouped", fs::perms(0770));
  EXPECT_TRUE(CheckFolderUsable(root / "grouped", {43434, 0, "43434", "root"}).ok());
  EXPECT_FALSE(CheckFolderUsable(root / "grouped", {43434, 43434, "43434", "43434"}).ok());

  for (const Case& c : cases) {
    const Outcome outcome = CheckFolderUsable(c.folder, account);
    EXPECT_EQ(outcome.ok(), c.usable) << c.folder;
    EXPECT_NE(outcome.reason.find(c.reasonPart), std::string::npos) << c.folder << ": " << outcome.reason;
    EXPECT_NE(outcome.fix.find(c.fixPart), std::string::npos) << outcome.fix;
  }
}

}  // namespace
}  // namespace qb
