#include "config/setting_table.h"

#include <cctype>
#include <cstdlib>

namespace qb {
namespace {

using enum SettingType;
constexpr SettingTakesEffect kEachUse = SettingTakesEffect::kEachUse;
constexpr SettingTakesEffect kNextStart = SettingTakesEffect::kNextStart;

// Indexed by SettingId.
const Setting kSettings[kSettingCount] = {
    {"PATH", "CONF", kMarkedText, "?", 0, 0, kNextStart, nullptr,
     "folder of the configuration program and the fax companion, whose volume is checked for "
     "free space; ? or absent: the program's folder"},
    {"MANAGEMENT", "HDD", kInteger, "80", 0, 100, kEachUse, nullptr,
     "used-space percentage from which a volume counts as nearly full"},
    {"MANAGEMENT", "Receive", kFlag, "1", 0, 1, kEachUse, nullptr,
     "1: announce each received document (only exactly 1 is on)"},
    {"MANAGEMENT", "List", kInteger, "100", 0, 1000000, kEachUse, nullptr,
     "entries the receive log keeps: after each entry the oldest beyond it are dropped"},
    {"MANAGEMENT", "OverWrite", kFlag, "1", 0, 1, kEachUse, nullptr,
     "non-zero: a received file may replace one of the same name; 0: never"},
    {"MANAGEMENT", "MaxConnectNum", kInteger, "30", 1, 100, kNextStart, nullptr,
     "scan job connections at once (at most 100; a negative value counts as 100)"},
    {"MANAGEMENT", "MaxConnectPerAddress", kInteger, "4", 0, 110, kNextStart, nullptr,
     "connections one address may hold on each scan port; 0: no limit"},
    {"MANAGEMENT", "DirListScope", kInteger, "0", 0, 1, kEachUse, nullptr,
     "folders a printer's panel may list: 0 any folder, 1 only the destination folders and "
     "below"},
    {"MANAGEMENT", "MACAddressCheck", kFlag, "0", 0, 1, kEachUse, nullptr,
     "1: check the printer's hardware address at FTP login"},
    {"MANAGEMENT", "FileTypeCheck", kFlag, "1", 0, 1, kEachUse, nullptr,
     "1: check that an FTP upload is the file type its name says"},
    {"MANAGEMENT", "FTP_DebugLog", kText, "", 0, 0, kNextStart, nullptr,
     "file for the FTP server's log; empty: no log"},
    {"MANAGEMENT", "FTP_DebugLogDBA", kText, "", 0, 0, kNextStart, nullptr,
     "file for the dump of meta data and extension calls; empty: no dump"},
    {"MANAGEMENT", "FtpPort", kInteger, "21", 1, 65535, kNextStart, nullptr, "the FTP port"},
    {"MANAGEMENT", "FTP_Support", kFlag, "1", 0, 1, kNextStart, nullptr, "1: offer plain FTP"},
    {"MANAGEMENT", "FTPS_Support", kFlag, "1", 0, 1, kNextStart, nullptr,
     "1: offer FTP over TLS (AUTH TLS)"},
    {"MANAGEMENT", "SSL_PrivateKey", kText, "", 0, 0, kNextStart, nullptr,
     "PEM file of the TLS private key; empty: DfPriv.key next to the program"},
    {"MANAGEMENT", "SSL_CertificateKey", kText, "", 0, 0, kNextStart, nullptr,
     "PEM file of the TLS certificate; empty: DfCert.crt next to the program"},
    {"MANAGEMENT", "FTP_SocketTimeOut", kInteger, "120", 30, 3600, kEachUse, nullptr,
     "seconds an FTP connection may stay idle (clamped to 30..3600)"},
    {"MANAGEMENT", "FTPS_MinTLSVersion", kMarkedText, "1.2", 0, 0, kNextStart, "1.0 1.1 1.2 1.3",
     "oldest TLS version FTPS admits; anything else counts as 1.2"},
    {"MANAGEMENT", "FTP_IgnoreConnReset", kFlag, "0", 0, 1, kEachUse, nullptr,
     "1: a connection reset counts as a normal end"},
    {"IDS", "TOVScan", kFlag, "0", 0, 1, kEachUse, nullptr,
     "non-zero: DepName goes into the names of received files"},
    {"IDS", "DepName", kMarkedText, "?", 0, 0, kEachUse, nullptr,
     "department name in file names, at most 8 characters, read only with TOVScan on"},
    {"DEBUG", "Trace", kInteger, "0", 0, 2, kNextStart, nullptr,
     "0 off, 1 trace on standard error, 2 trace appended to R/tmp/qbxLog.log"},
    {"RCVFAX", "USESMTP", kFlag, "1", 0, 1, kEachUse, nullptr,
     "0: another PC's fax-receive announcement is handed to the fax companion"},
    {"WEB", "WebPort", kInteger, "37180", 1, 65535, kNextStart, nullptr,
     "TCP port of the local web page (quillbox-web)"},
    {"WEB", "WebAddress", kText, "127.0.0.1", 0, 0, kNextStart, nullptr,
     "IPv4 address the web page listens on; any other than 127.0.0.1 needs the TLS key pair"},
};

bool SameText(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

// A whole decimal number (sign allowed), nothing else.
bool ParseWholeNumber(const std::string& text, long* value) {
  if (text.empty() || text.size() > 12) return false;
  char* end = nullptr;
  *value = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0' && !std::isspace(static_cast<unsigned char>(text[0]));
}

bool OneOf(const std::string& value, const char* choices) {
  std::string choice;
  for (const char* c = choices;; ++c) {
    if (*c == ' ' || *c == '\0') {
      if (!choice.empty() && choice == value) return true;
      choice.clear();
      if (*c == '\0') return false;
    } else {
      choice += *c;
    }
  }
}

}  // namespace

const Setting& SettingOf(SettingId id) { return kSettings[id]; }

const Setting* FindSetting(const std::string& section, const std::string& key) {
  for (const Setting& setting : kSettings) {
    if (SameText(section, setting.section) && SameText(key, setting.key)) return &setting;
  }
  return nullptr;
}

bool SettingValueValid(const Setting& setting, const std::string& value, std::string* why) {
  for (char c : value) {
    if (c == '\n' || c == '\r' || c == '\0') {
      *why = "a value is one line";
      return false;
    }
  }
  switch (setting.type) {
    case SettingType::kInteger:
    case SettingType::kFlag: {
      long number = 0;
      if (!ParseWholeNumber(value, &number) || number < setting.minimum ||
          number > setting.maximum) {
        *why = "a whole number from " + std::to_string(setting.minimum) + " to " +
               std::to_string(setting.maximum);
        return false;
      }
      return true;
    }
    case SettingType::kText:
    case SettingType::kMarkedText:
      if (setting.choices != nullptr && !OneOf(value, setting.choices)) {
        *why = std::string("one of ") + setting.choices;
        return false;
      }
      return true;
  }
  return false;
}

}  // namespace qb
