#include "ftp/ftp_commands.h"

#include <cstring>

namespace qb {
namespace {

struct CommandName {
  const char* name;
  FtpCommand code;
};

// The order matters: the first prefix match wins.
constexpr CommandName kCommands[] = {
    {"QUIT", FtpCommand::kQuit}, {"NOOP", FtpCommand::kNoop}, {"USER", FtpCommand::kUser},
    {"PASS", FtpCommand::kPass}, {"CWD", FtpCommand::kCwd},   {"PORT", FtpCommand::kPort},
    {"PASV", FtpCommand::kPasv}, {"RETR", FtpCommand::kRetr}, {"STOR", FtpCommand::kStor},
    {"RNFR", FtpCommand::kRnfr}, {"RNTO", FtpCommand::kRnto}, {"ABOR", FtpCommand::kAbor},
    {"DELE", FtpCommand::kDele}, {"RMD", FtpCommand::kRmd},   {"MKD", FtpCommand::kMkd},
    {"PWD", FtpCommand::kPwd},   {"LIST", FtpCommand::kList}, {"NLST", FtpCommand::kNlst},
    {"TYPE", FtpCommand::kType}, {"CDUP", FtpCommand::kCdup}, {"AUTH", FtpCommand::kAuth},
    {"PBSZ", FtpCommand::kPbsz}, {"PROT", FtpCommand::kProt}, {"CCC", FtpCommand::kCcc},
    // Deliberately added to the original table: tools look for AUTH TLS
    // in the feature list before they try it.
    {"FEAT", FtpCommand::kFeat},
};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithName(const char* line, const char* name) {
  for (size_t i = 0; name[i] != '\0'; ++i) {
    if (line[i] == '\0' || Upper(line[i]) != name[i]) return false;
  }
  return true;
}

// A decimal number of 0..255 with nothing else in it (blanks around it
// allowed, as clients put none but a hand-typed line may).
bool ParseOctet(const char* begin, const char* end, uint32_t* value) {
  while (begin < end && *begin == ' ') ++begin;
  while (end > begin && end[-1] == ' ') --end;
  if (begin == end || end - begin > 3) return false;
  uint32_t number = 0;
  for (const char* p = begin; p < end; ++p) {
    if (*p < '0' || *p > '9') return false;
    number = number * 10 + static_cast<uint32_t>(*p - '0');
  }
  if (number > 255) return false;
  *value = number;
  return true;
}

}  // namespace

FtpCommand LookUpCommand(const char* line) {
  for (const CommandName& entry : kCommands) {
    if (StartsWithName(line, entry.name)) return entry.code;
  }
  return FtpCommand::kNone;
}

std::string CommandArgument(const char* line) {
  const char* blank = std::strchr(line, ' ');
  if (blank == nullptr) return std::string();
  while (*blank == ' ') ++blank;
  return std::string(blank);
}

bool ParsePortArgument(const char* line, PortTarget* target) {
  if (std::strlen(line) < 5) return false;
  const char* text = line + 5;
  uint32_t numbers[6];
  int count = 0;
  const char* part = text;
  for (const char* p = text;; ++p) {
    if (*p == ',' || *p == '\0') {
      if (count == 6 || !ParseOctet(part, p, &numbers[count])) return false;
      ++count;
      if (*p == '\0') break;
      part = p + 1;
    }
  }
  if (count != 6) return false;
  target->address = numbers[0] << 24 | numbers[1] << 16 | numbers[2] << 8 | numbers[3];
  target->port = static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
  return true;
}

}  // namespace qb
