// One accessor per setting of the settings file. Each call reads the file
// afresh, so a change made by the configuration program takes effect at the
// next call. Text accessors copy into (buffer, size), cut to fit, and return
// whether a value is present; the texts "?"-marked (CONF, DepName,
// FTPS_MinTLSVersion) count as absent when they read exactly "?". Section,
// key, default and range of each are in config/setting_table.h.
#pragma once

#include <cstddef>
#include <string>

#include "config/setting_table.h"

namespace qb {

// [PATH]
bool GetConf(char* buffer, size_t size);
// [MANAGEMENT]
int GetHDD();              // default 80
bool GetReceive();         // only exactly 1 is on (default 1)
int GetList();             // default 100
bool GetOverWrite();       // any non-zero is on (default 1)
int GetMaxConnectNum();    // default 30, at most 100 (unsigned compare)
// Connections one address may hold on each scan port; default 4, 0 or
// less: no limit.
int GetMaxConnectPerAddress();
int GetMACAddressCheck();  // default 0
int GetFileTypeCheck();    // default 1
// Which folders the panel may list: 0 any folder of the machine (default),
// 1 only the destination folders and folders below them.
int GetDirListScope();
bool GetFTP_DebugLog(char* buffer, size_t size);
bool GetFTP_DebugLogDBA(char* buffer, size_t size);
// default 21; a value that is not a port (StartSettingValid) counts as 21
int GetFtpPort();
int GetFTP_Support();   // default 1
int GetFTPS_Support();  // default 1
bool GetSSL_PrivateKey(char* buffer, size_t size);
bool GetSSL_CertificateKey(char* buffer, size_t size);
int GetFTP_SocketTimeOut();  // default 120, clamped to 30..3600
bool GetFTP_IgnoreConnReset();
// The oldest TLS version FTPS admits: "1.0", "1.1", "1.2" or "1.3" always
// lands in the buffer; absent ("?" or empty) or any other text gives
// "1.2". Returns whether the setting itself named a valid version.
bool GetFTPS_MinTLSVersion(char* buffer, size_t size);
// [IDS]
int GetTOVScan();  // default 0
// Returns whether TOVScan is non-zero; the name (at most 8 characters) is
// read only then, otherwise the buffer is cleared.
bool GetDepName(char* buffer, size_t size);
// Whether the setting's value in the file is valid for its type and range
// (an absent one is); otherwise `problem` names the file, section, key, the
// value and what is used instead, for a person to read.
bool StartSettingValid(SettingId id, std::string* problem);
// [DEBUG]
int GetTrace();  // default 0
// [RCVFAX]
bool GetUSESMTP();  // default 1
// [WEB] (read by quillbox-web)
int GetWebPort();                                 // default 37180
bool GetWebAddress(char* buffer, size_t size);  // default "127.0.0.1"

}  // namespace qb
