// The settings table against what the user reads: the README's settings
// table, the manual page and the commented settings file the package
// installs. A setting the code reads cannot be left out of them, nor
// documented with another default or another moment it takes effect.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/setting_table.h"
#include "test_root.h"

namespace qb {
namespace {

using test::Lines;

std::string ReadSource(const std::string& relative) {
  return test::ReadWholeFile(std::string(QB_SOURCE_DIR) + "/" + relative);
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" `");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" `");
  return text.substr(first, last - first + 1);
}

std::string TakesEffectText(const Setting& setting) {
  return setting.takesEffect == SettingTakesEffect::kNextStart ? "next start" : "each use";
}

// What the README's settings table says: "SECTION/Key" -> cells.
std::map<std::string, std::vector<std::string>> ReadmeRows() {
  std::map<std::string, std::vector<std::string>> rows;
  bool inTable = false;
  for (const std::string& line : Lines(ReadSource("README.md"))) {
    if (line.rfind("| Section | Key | Default | Takes effect |", 0) == 0) {
      inTable = true;
      continue;
    }
    if (!inTable) continue;
    if (line.empty() || line[0] != '|') break;
    std::vector<std::string> cells;
    std::istringstream in(line.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) cells.push_back(Trim(cell));
    if (cells.size() < 5 || cells[0].find("---") != std::string::npos) continue;
    rows[cells[0] + "/" + cells[1]] = cells;
  }
  return rows;
}

TEST(SettingDocsTest, TheReadmeTableListsEverySettingOnceAsTheCodeReadsIt) {
  std::map<std::string, std::vector<std::string>> rows = ReadmeRows();
  ASSERT_FALSE(rows.empty()) << "no settings table in README.md";
  for (size_t id = 0; id < kSettingCount; ++id) {
    const Setting& setting = SettingOf(static_cast<SettingId>(id));
    const std::string name = std::string(setting.section) + "/" + setting.key;
    auto row = rows.find(name);
    ASSERT_NE(row, rows.end()) << name << " is missing from README.md's settings table";
    const std::string shownDefault = setting.type == SettingType::kMarkedText &&
                                             std::string(setting.defaultValue) == "?"
                                         ? "absent"
                                         : setting.type == SettingType::kText &&
                                                   std::string(setting.defaultValue).empty()
                                               ? "empty"
                                               : setting.defaultValue;
    EXPECT_EQ(row->second[2], shownDefault) << name;
    EXPECT_EQ(row->second[3], TakesEffectText(setting)) << name;
    rows.erase(row);
  }
  for (const auto& [name, cells] : rows) {
    ADD_FAILURE() << name << " is in README.md's settings table but the code reads no such setting";
  }
}

TEST(SettingDocsTest, TheManualPageNamesEverySettingWithItsDefault) {
  const std::string page = ReadSource("docs/man/quillbox.8");
  for (size_t id = 0; id < kSettingCount; ++id) {
    const Setting& setting = SettingOf(static_cast<SettingId>(id));
    const std::string entry = std::string(".B ") + setting.key + "\n";
    const size_t at = page.find(".SH SETTINGS");
    ASSERT_NE(at, std::string::npos) << "no SETTINGS section in quillbox(8)";
    const size_t found = page.find(entry, at);
    ASSERT_NE(found, std::string::npos) << setting.key << " is missing from quillbox(8)";
    const std::string text = page.substr(found + entry.size(), page.find(".TP", found) - found);
    EXPECT_NE(text.find(TakesEffectText(setting)), std::string::npos)
        << setting.key << " in quillbox(8) does not say when it takes effect";
  }
}

TEST(SettingDocsTest, TheInstalledSettingsFileShowsEverySettingWithItsDefault) {
  std::string section;
  std::map<std::string, std::string> shown;  // "SECTION/Key" -> value after "="
  // The comment lines above a key (or above a run of keys) describe it.
  std::string comment;
  bool afterKey = false;
  std::map<std::string, std::string> comments;
  for (const std::string& line : Lines(ReadSource("debian/quern.ini"))) {
    if (!line.empty() && line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      comment.clear();
    } else if (line.rfind(";", 0) == 0 && line.find('=') != std::string::npos &&
               line.find(' ') == std::string::npos) {
      const std::string key = line.substr(1, line.find('=') - 1);
      shown[section + "/" + key] = line.substr(line.find('=') + 1);
      comments[section + "/" + key] = comment;
      afterKey = true;
      continue;
    } else if (line.rfind(";", 0) == 0) {
      if (afterKey) comment.clear();
      comment += line + "\n";
    } else {
      comment.clear();
    }
    afterKey = false;
  }
  for (size_t id = 0; id < kSettingCount; ++id) {
    const Setting& setting = SettingOf(static_cast<SettingId>(id));
    const std::string name = std::string(setting.section) + "/" + setting.key;
    auto value = shown.find(name);
    ASSERT_NE(value, shown.end()) << name << " is missing from debian/quern.ini";
    if (setting.type != SettingType::kMarkedText) {
      EXPECT_EQ(value->second, setting.defaultValue) << name;
    }
    EXPECT_EQ(comments[name].find("next start") != std::string::npos,
              setting.takesEffect == SettingTakesEffect::kNextStart)
        << name << ": its comment in debian/quern.ini must say \"next start\" exactly when it is "
        << "read only at start";
    shown.erase(value);
  }
  for (const auto& [name, value] : shown) {
    ADD_FAILURE() << name << " is in debian/quern.ini but the code reads no such setting";
  }
}

}  // namespace
}  // namespace qb
