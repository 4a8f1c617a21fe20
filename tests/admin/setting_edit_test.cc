// Settings changed through the table: valid values are written where the
// receiver reads them, invalid ones are refused naming what is valid and
// leave the file untouched.
#include <string>

#include <gtest/gtest.h>

#include "admin/setting_edit.h"
#include "config/settings.h"
#include "platform/profile.h"
#include "tests/unit/test_root.h"

namespace qb {
namespace {

struct SetCase {
  std::string name;
  std::string value;
  bool valid;
  const char* reasonPart;
};

TEST(SettingEditTest, ValuesAreCheckedAgainstTheTable) {
  test::TestRoot root;
  const std::string original = "[MANAGEMENT]\n; kept comment\nHDD=70\n";
  const SetCase cases[] = {
      {"HDD", "90", true, ""},
      {"hdd", "0", true, ""},
      {"MANAGEMENT.HDD", "100", true, ""},
      {"HDD", "101", false, "0 to 100"},
      {"HDD", "-1", false, "0 to 100"},
      {"HDD", "ninety", false, "0 to 100"},
      {"HDD", "", false, "0 to 100"},
      {"FtpPort", "2121", true, ""},
      {"FtpPort", "0", false, "a whole number from 1 to 65535"},
      {"FtpPort", "70000", false, "1 to 65535"},
      {"FtpPort", "twenty-one", false, "1 to 65535"},
      {"FtpPort", "21 ", false, "1 to 65535"},
      {"FTPS_MinTLSVersion", "1.3", true, ""},
      {"FTPS_MinTLSVersion", "1.4", false, "one of 1.0 1.1 1.2 1.3"},
      {"Receive", "2", false, "0 to 1"},
      {"DepName", "Sales", true, ""},
      {"DepName", "two\nlines", false, "one line"},
      {"CONF", "/a\n[PATH]", false, "one line"},
      {"LANGUAGE.Language", "1", false, "no setting"},
      {"IDS.HDD", "50", false, "no setting"},
      {"NoSuchKey", "1", false, "no setting"},
  };
  for (const SetCase& c : cases) {
    root.WriteSettings(original);
    const Setting* changed = nullptr;
    const Outcome outcome = ChangeSetting(root.SettingsFile(), c.name, c.value, &changed);
    EXPECT_EQ(outcome.ok(), c.valid) << c.name << "=" << c.value << ": " << outcome.reason;
    if (c.valid) {
      ASSERT_NE(changed, nullptr);
      EXPECT_EQ(ProfileGetString(root.SettingsFile(), changed->section, changed->key, "?"), c.value);
      EXPECT_NE(test::ReadWholeFile(root.SettingsFile()).find("; kept comment"), std::string::npos);
    } else {
      EXPECT_EQ(outcome.refusal, Refusal::kInvalid);
      EXPECT_NE(outcome.reason.find(c.reasonPart), std::string::npos) << outcome.reason;
      EXPECT_EQ(test::ReadWholeFile(root.SettingsFile()), original) << c.name;
    }
  }
}

TEST(SettingEditTest, ReadsEverySettingWithItsDefaultWhenAbsent) {
  test::TestRoot root;
  root.WriteSettings("[management]\nhdd = 65\n[DEBUG]\nTrace=2\n");
  const std::vector<SettingValue> values = ReadSettingValues(root.SettingsFile());
  ASSERT_EQ(values.size(), static_cast<size_t>(kSettingCount));
  const SettingValue& hdd = values[kSettingHdd];
  EXPECT_TRUE(hdd.present);
  EXPECT_EQ(hdd.value, "65");
  EXPECT_TRUE(values[kSettingTrace].present);
  EXPECT_EQ(values[kSettingTrace].value, "2");
  EXPECT_FALSE(values[kSettingFtpPort].present);
  EXPECT_EQ(values[kSettingFtpPort].value, "21");
  // The receiver's own accessor agrees with what is shown.
  EXPECT_EQ(GetHDD(), 65);
}

}  // namespace
}  // namespace qb
