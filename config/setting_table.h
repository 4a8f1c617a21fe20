// The one table of the settings in quern.ini: section, key, type, default,
// valid range, when a change takes effect, and what the setting does. The
// accessors (config/settings.h) read through it, the documentation is
// checked against it by a test, and a tool can validate a value with it.
#pragma once

#include <cstddef>
#include <string>

namespace qb {

enum class SettingType {
  kInteger,     // a leading signed decimal number; no digits read as 0
  kFlag,        // an integer read as off (0) or on
  kText,        // any text; empty is absent
  kMarkedText,  // any text; "?" (the default) is absent
};

enum class SettingTakesEffect {
  kEachUse,    // read again at each use: a change counts at once
  kNextStart,  // read once at start: a change counts after a restart
};

struct Setting {
  const char* section;
  const char* key;
  SettingType type;
  const char* defaultValue;  // as the file would hold it
  int minimum;               // integers and flags: the valid range
  int maximum;
  SettingTakesEffect takesEffect;
  const char* choices;  // texts: the valid values, blank-separated; null for any
  const char* description;
};

// The settings, in the order the documentation lists them.
enum SettingId : size_t {
  kSettingConf,
  kSettingHdd,
  kSettingReceive,
  kSettingList,
  kSettingOverWrite,
  kSettingMaxConnectNum,
  kSettingMaxConnectPerAddress,
  kSettingDirListScope,
  kSettingMacAddressCheck,
  kSettingFileTypeCheck,
  kSettingFtpDebugLog,
  kSettingFtpDebugLogDba,
  kSettingFtpPort,
  kSettingFtpSupport,
  kSettingFtpsSupport,
  kSettingSslPrivateKey,
  kSettingSslCertificateKey,
  kSettingFtpSocketTimeOut,
  kSettingFtpsMinTlsVersion,
  kSettingFtpIgnoreConnReset,
  kSettingTovScan,
  kSettingDepName,
  kSettingTrace,
  kSettingUseSmtp,
  kSettingWebPort,
  kSettingWebAddress,
  kSettingCount
};

const Setting& SettingOf(SettingId id);

// The setting of that section and key (matched without regard to case), or
// null.
const Setting* FindSetting(const std::string& section, const std::string& key);

// Whether `value` is valid for the setting; `why` says what is valid when
// it is not.
bool SettingValueValid(const Setting& setting, const std::string& value, std::string* why);

}  // namespace qb
