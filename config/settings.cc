#include "config/settings.h"

#include <cstring>

#include "config/folders.h"
#include "platform/profile.h"

namespace qb {
namespace {

int ReadInt(const char* section, const char* key, int fallback) {
  return ProfileGetInt(SettingsPath(), section, key, fallback);
}

bool ReadText(const char* section, const char* key, const char* fallback, char* buffer,
              size_t size) {
  if (size == 0) return false;
  ProfileGetString(SettingsPath(), section, key, fallback, buffer, size);
  return buffer[0] != '\0';
}

// The "?" marker convention: the marker is the default, and reading it
// back means the key is absent.
bool ReadMarkedText(const char* section, const char* key, char* buffer, size_t size) {
  if (size == 0) return false;
  ProfileGetString(SettingsPath(), section, key, "?", buffer, size);
  if (std::strcmp(buffer, "?") == 0) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace

bool GetLanguage(char* buffer, size_t size) {
  return ReadMarkedText("LANGUAGE", "Language", buffer, size);
}

bool GetConf(char* buffer, size_t size) { return ReadMarkedText("PATH", "CONF", buffer, size); }

int GetHDD() { return ReadInt("MANAGEMENT", "HDD", 80); }
bool GetReceive() { return ReadInt("MANAGEMENT", "Receive", 1) == 1; }
int GetList() { return ReadInt("MANAGEMENT", "List", 100); }
bool GetOverWrite() { return ReadInt("MANAGEMENT", "OverWrite", 1) != 0; }

int GetMaxConnectNum() {
  unsigned value = static_cast<unsigned>(ReadInt("MANAGEMENT", "MaxConnectNum", 30));
  return value > 100u ? 100 : static_cast<int>(value);
}

int GetMaxConnectPerAddress() {
  const int value = ReadInt("MANAGEMENT", "MaxConnectPerAddress", 4);
  return value < 0 ? 0 : value;
}

int GetMACAddressCheck() { return ReadInt("MANAGEMENT", "MACAddressCheck", 0); }
int GetFileTypeCheck() { return ReadInt("MANAGEMENT", "FileTypeCheck", 1); }
int GetDirListScope() { return ReadInt("MANAGEMENT", "DirListScope", 0); }

bool GetFTP_DebugLog(char* buffer, size_t size) {
  return ReadText("MANAGEMENT", "FTP_DebugLog", "", buffer, size);
}

bool GetFTP_DebugLogDBA(char* buffer, size_t size) {
  return ReadText("MANAGEMENT", "FTP_DebugLogDBA", "", buffer, size);
}

int GetFtpPort() { return ReadInt("MANAGEMENT", "FtpPort", 21); }
int GetFTP_Support() { return ReadInt("MANAGEMENT", "FTP_Support", 1); }
int GetFTPS_Support() { return ReadInt("MANAGEMENT", "FTPS_Support", 1); }

bool GetSSL_PrivateKey(char* buffer, size_t size) {
  return ReadText("MANAGEMENT", "SSL_PrivateKey", "", buffer, size);
}

bool GetSSL_CertificateKey(char* buffer, size_t size) {
  return ReadText("MANAGEMENT", "SSL_CertificateKey", "", buffer, size);
}

int GetFTP_SocketTimeOut() {
  int value = ReadInt("MANAGEMENT", "FTP_SocketTimeOut", 120);
  if (value < 30) return 30;
  if (value > 3600) return 3600;
  return value;
}

bool GetFTP_IgnoreConnReset() { return ReadInt("MANAGEMENT", "FTP_IgnoreConnReset", 0) != 0; }

bool GetFTPS_MinTLSVersion(char* buffer, size_t size) {
  if (size == 0) return false;
  char value[8];
  bool valid = ReadMarkedText("MANAGEMENT", "FTPS_MinTLSVersion", value, sizeof value) &&
               (std::strcmp(value, "1.0") == 0 || std::strcmp(value, "1.1") == 0 ||
                std::strcmp(value, "1.2") == 0 || std::strcmp(value, "1.3") == 0);
  const char* chosen = valid ? value : "1.2";
  size_t length = std::strlen(chosen);
  if (length > size - 1) length = size - 1;
  std::memcpy(buffer, chosen, length);
  buffer[length] = '\0';
  return valid;
}

int GetTOVScan() { return ReadInt("IDS", "TOVScan", 0); }

bool GetDepName(char* buffer, size_t size) {
  if (size == 0) return false;
  if (GetTOVScan() == 0) {
    buffer[0] = '\0';
    return false;
  }
  char name[9];
  ReadMarkedText("IDS", "DepName", name, sizeof name);
  size_t length = std::strlen(name);
  if (length > size - 1) length = size - 1;
  std::memcpy(buffer, name, length);
  buffer[length] = '\0';
  return true;
}

int GetTrace() { return ReadInt("DEBUG", "Trace", 0); }
bool GetUSESMTP() { return ReadInt("RCVFAX", "USESMTP", 1) != 0; }

}  // namespace qb
