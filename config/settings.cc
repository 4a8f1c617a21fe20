#include "config/settings.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/folders.h"
#include "config/setting_table.h"
#include "platform/profile.h"

namespace qb {
namespace {

// Every accessor reads through the settings table: section, key and
// default are said once.
int ReadInt(SettingId id) {
  const Setting& setting = SettingOf(id);
  return ProfileGetInt(SettingsPath(), setting.section, setting.key,
                       std::atoi(setting.defaultValue));
}

bool ReadText(SettingId id, char* buffer, size_t size) {
  const Setting& setting = SettingOf(id);
  if (size == 0) return false;
  ProfileGetString(SettingsPath(), setting.section, setting.key, setting.defaultValue, buffer,
                   size);
  return buffer[0] != '\0';
}

// The "?" marker convention: the marker is the default, and reading it
// back means the key is absent.
bool ReadMarkedText(SettingId id, char* buffer, size_t size) {
  const Setting& setting = SettingOf(id);
  if (size == 0) return false;
  ProfileGetString(SettingsPath(), setting.section, setting.key, "?", buffer, size);
  if (std::strcmp(buffer, "?") == 0) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace

bool GetConf(char* buffer, size_t size) { return ReadMarkedText(kSettingConf, buffer, size); }

int GetHDD() { return ReadInt(kSettingHdd); }
bool GetReceive() { return ReadInt(kSettingReceive) == 1; }
int GetList() { return ReadInt(kSettingList); }
bool GetOverWrite() { return ReadInt(kSettingOverWrite) != 0; }

int GetMaxConnectNum() {
  unsigned value = static_cast<unsigned>(ReadInt(kSettingMaxConnectNum));
  return value > 100u ? 100 : static_cast<int>(value);
}

int GetMaxConnectPerAddress() {
  const int value = ReadInt(kSettingMaxConnectPerAddress);
  return value < 0 ? 0 : value;
}

int GetMACAddressCheck() { return ReadInt(kSettingMacAddressCheck); }
int GetFileTypeCheck() { return ReadInt(kSettingFileTypeCheck); }
int GetDirListScope() { return ReadInt(kSettingDirListScope); }

bool GetFTP_DebugLog(char* buffer, size_t size) {
  return ReadText(kSettingFtpDebugLog, buffer, size);
}

bool GetFTP_DebugLogDBA(char* buffer, size_t size) {
  return ReadText(kSettingFtpDebugLogDba, buffer, size);
}

int GetFtpPort() {
  std::string why;
  if (!StartSettingValid(kSettingFtpPort, &why)) return std::atoi(SettingOf(kSettingFtpPort).defaultValue);
  return ReadInt(kSettingFtpPort);
}

bool StartSettingValid(SettingId id, std::string* problem) {
  const Setting& setting = SettingOf(id);
  // A value that is not there is the default, which is valid.
  const std::string absent = "\x01";
  const std::string value =
      ProfileGetString(SettingsPath(), setting.section, setting.key, absent.c_str());
  std::string why;
  if (value == absent || SettingValueValid(setting, value, &why)) return true;
  *problem = std::string("quern.ini [") + setting.section + "] " + setting.key + "=" + value +
             " is not valid (" + why + "); " + setting.defaultValue + " is used instead";
  return false;
}
int GetFTP_Support() { return ReadInt(kSettingFtpSupport); }
int GetFTPS_Support() { return ReadInt(kSettingFtpsSupport); }

bool GetSSL_PrivateKey(char* buffer, size_t size) {
  return ReadText(kSettingSslPrivateKey, buffer, size);
}

bool GetSSL_CertificateKey(char* buffer, size_t size) {
  return ReadText(kSettingSslCertificateKey, buffer, size);
}

int GetFTP_SocketTimeOut() {
  int value = ReadInt(kSettingFtpSocketTimeOut);
  if (value < 30) return 30;
  if (value > 3600) return 3600;
  return value;
}

bool GetFTP_IgnoreConnReset() { return ReadInt(kSettingFtpIgnoreConnReset) != 0; }

bool GetFTPS_MinTLSVersion(char* buffer, size_t size) {
  if (size == 0) return false;
  char value[8];
  const Setting& setting = SettingOf(kSettingFtpsMinTlsVersion);
  std::string why;
  bool valid = ReadMarkedText(kSettingFtpsMinTlsVersion, value, sizeof value) &&
               SettingValueValid(setting, value, &why);
  const char* chosen = valid ? value : setting.defaultValue;
  size_t length = std::strlen(chosen);
  if (length > size - 1) length = size - 1;
  std::memcpy(buffer, chosen, length);
  buffer[length] = '\0';
  return valid;
}

int GetTOVScan() { return ReadInt(kSettingTovScan); }

bool GetDepName(char* buffer, size_t size) {
  if (size == 0) return false;
  if (GetTOVScan() == 0) {
    buffer[0] = '\0';
    return false;
  }
  char name[9];
  ReadMarkedText(kSettingDepName, name, sizeof name);
  size_t length = std::strlen(name);
  if (length > size - 1) length = size - 1;
  std::memcpy(buffer, name, length);
  buffer[length] = '\0';
  return true;
}

int GetTrace() { return ReadInt(kSettingTrace); }
bool GetUSESMTP() { return ReadInt(kSettingUseSmtp) != 0; }

int GetWebPort() { return ReadInt(kSettingWebPort); }

bool GetWebAddress(char* buffer, size_t size) { return ReadText(kSettingWebAddress, buffer, size); }

}  // namespace qb
