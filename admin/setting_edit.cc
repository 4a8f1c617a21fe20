#include "admin/setting_edit.h"

#include <cctype>

#include "admin/write_permission.h"
#include "platform/profile.h"

namespace qb {
namespace {

bool SameText(const std::string& a, const char* b) {
  const std::string other = b;
  if (a.size() != other.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(other[i])))
      return false;
  }
  return true;
}

}  // namespace

const Setting* FindSettingByName(const std::string& name) {
  const size_t dot = name.find('.');
  if (dot != std::string::npos) return FindSetting(name.substr(0, dot), name.substr(dot + 1));
  for (size_t id = 0; id < kSettingCount; ++id) {
    const Setting& setting = SettingOf(static_cast<SettingId>(id));
    if (SameText(name, setting.key)) return &setting;
  }
  return nullptr;
}

std::vector<SettingValue> ReadSettingValues(const std::string& settingsPath) {
  std::vector<SettingValue> values;
  // One read per section rather than per key.
  std::string section;
  std::vector<std::pair<std::string, std::string>> entries;
  for (size_t id = 0; id < kSettingCount; ++id) {
    const Setting& setting = SettingOf(static_cast<SettingId>(id));
    if (section != setting.section) {
      section = setting.section;
      entries = ProfileSection(settingsPath, setting.section);
    }
    SettingValue value{&setting, false, setting.defaultValue};
    for (const auto& [key, text] : entries) {
      if (SameText(key, setting.key)) {
        value.present = true;
        value.value = text;
        break;
      }
    }
    values.push_back(std::move(value));
  }
  return values;
}

std::string SettingRangeText(const Setting& setting) {
  switch (setting.type) {
    case SettingType::kInteger:
    case SettingType::kFlag:
      return std::to_string(setting.minimum) + " to " + std::to_string(setting.maximum);
    case SettingType::kText:
    case SettingType::kMarkedText:
      break;
  }
  return setting.choices != nullptr ? std::string("one of ") + setting.choices : "any text";
}

Outcome ChangeSetting(const std::string& settingsPath, const std::string& name,
                      const std::string& value, const Setting** changed) {
  const Setting* setting = FindSettingByName(name);
  if (setting == nullptr) {
    return Outcome::Refused(Refusal::kInvalid, "no setting named " + name,
                            "'get' lists every setting");
  }
  std::string why;
  if (!SettingValueValid(*setting, value, &why)) {
    return Outcome::Refused(Refusal::kInvalid, std::string(setting->key) + ": \"" + value +
                                                   "\" is not valid: " + why);
  }
  for (unsigned char c : value) {
    if (c < 0x20 || c == 0x7F) {
      return Outcome::Refused(Refusal::kInvalid, std::string(setting->key) +
                                                     ": a value cannot hold a line break or control character");
    }
  }
  Outcome outcome = CheckMayWrite(settingsPath);
  if (!outcome.ok()) return outcome;
  if (!ProfileWriteString(settingsPath, setting->section, setting->key, value.c_str())) {
    return Outcome::Refused(Refusal::kFailed, "cannot write " + settingsPath);
  }
  if (changed != nullptr) *changed = setting;
  return Outcome::Done();
}

}  // namespace qb
