// The FTP command table and the parsing of a command line: which command
// a line names, its argument, and the address of a PORT command. Pure
// functions over untrusted text, so the fuzzer can drive them directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qb {

enum class FtpCommand : int {
  kNone = 0,
  kQuit = 1,
  kUser = 2,
  kPass = 3,
  kCwd = 4,
  kPort = 5,
  kPasv = 6,
  kAbor = 7,
  kPwd = 8,
  kList = 9,
  kNlst = 10,
  kType = 11,
  kCdup = 12,
  kNoop = 13,
  kRetr = 14,
  kStor = 15,
  kDele = 16,
  kRnfr = 17,
  kRnto = 18,
  kRmd = 19,
  kMkd = 20,
  kAuth = 21,
  kPbsz = 22,
  kProt = 23,
  kCcc = 24,
  kFeat = 25,
};

// The first table entry whose name equals the line's first characters,
// compared without case over the name's length only ("USERX a" is USER);
// kNone when no entry matches.
FtpCommand LookUpCommand(const char* line);

// Arguments this long or longer end the session.
constexpr size_t kMaxArgumentLength = 256;
// The text after the line's first blank, further blanks skipped; "" when
// the line has no blank.
std::string CommandArgument(const char* line);

// The address and port of "PORT h1,h2,h3,h4,p1,p2" (the text after the
// line's first five characters): exactly six decimal numbers of 0..255,
// nothing else. False for anything else.
struct PortTarget {
  uint32_t address = 0;  // host order
  uint16_t port = 0;
};
bool ParsePortArgument(const char* line, PortTarget* target);

}  // namespace qb
