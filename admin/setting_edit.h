// The settings of quern.ini as an administrator sees and changes them:
// every setting of config/setting_table.h with its value in the file, and
// a change checked against the table and written by the receiver's own
// locked profile writer.
#pragma once

#include <string>
#include <vector>

#include "admin/outcome.h"
#include "config/setting_table.h"

namespace qb {

struct SettingValue {
  const Setting* setting = nullptr;
  bool present = false;  // the file holds the key
  std::string value;     // the file's value, or the default when absent
};

// Finds a setting by "KEY" or "SECTION.KEY" (without regard to case).
const Setting* FindSettingByName(const std::string& name);

// Every setting in table order, read from the settings file in one pass.
std::vector<SettingValue> ReadSettingValues(const std::string& settingsPath);

// "0 to 100", "one of 1.0 1.1 1.2 1.3", "any text": what the setting takes.
std::string SettingRangeText(const Setting& setting);

// Checks `value` for the setting named `name` and writes it. On success
// `setting` (when given) is the setting changed.
Outcome ChangeSetting(const std::string& settingsPath, const std::string& name,
                      const std::string& value, const Setting** setting);

}  // namespace qb
