// The name-resolve datagram: 296 bytes, integers big-endian.
//   0  4   command
//   4  4   count of names (always 1 in what we send)
//   8  288 host name, ASCII, NUL-terminated
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb {

constexpr uint16_t kNameServicePort = 37010;
// Where replies to the "_2" requests go.
constexpr uint16_t kNameServicePort2 = 37011;

constexpr size_t kNameDatagramBytes = 296;
constexpr size_t kNameFieldOffset = 8;
constexpr size_t kNameFieldBytes = kNameDatagramBytes - kNameFieldOffset;
// The PC's own name: the host name up to its first ".", cut to this.
constexpr size_t kOwnNameMax = 32;

constexpr uint32_t kNameResolveReq = 0x09090001;
constexpr uint32_t kNameNotifyReq = 0x09090002;
constexpr uint32_t kNameResolveReq2 = 0x09090003;
constexpr uint32_t kNameNotifyReq2 = 0x09090004;
constexpr uint32_t kNameResolveRes = 0x09090011;
constexpr uint32_t kNameNotifyRes = 0x09090012;
constexpr uint32_t kNameResolveRes2 = 0x09090013;
constexpr uint32_t kNameNotifyRes2 = 0x09090014;
// Another PC's fax-receive handler makes itself known (broadcast).
constexpr uint32_t kFaxHandlerAnnounce = 0x09090019;

// What a datagram carries. `name` is the name field as it arrived, cut at
// the field's end when it holds no NUL; `upperName` the same upper-cased.
struct NameDatagram {
  uint32_t command = 0;
  uint32_t count = 0;
  char name[kNameFieldBytes + 1] = {};
  char upperName[kNameFieldBytes + 1] = {};
};

// Reads the first kNameDatagramBytes of `bytes` (which must hold that
// many; the caller zero-fills what the network did not send).
void ParseNameDatagram(const uint8_t* bytes, NameDatagram* out);

// What a request asks for.
struct ReplyPlan {
  bool due = false;
  uint32_t code = 0;      // the reply's command
  uint16_t port = 0;      // the protocol port it goes to
  bool records = false;   // the asking printer goes into the host table
};
// The rule of each command: the resolve requests only when the asked name
// is ours, the notify requests always, anything else never.
ReplyPlan PlanReply(uint32_t command, bool nameIsOurs);

// Upper-cases ASCII a-z in place; other bytes stay as they are.
void UpperCaseAscii(char* text);

// Turns a received datagram (its 296 bytes, in place) into its reply: the
// command replaced, the count 1, and our name with its terminator over the
// start of the name field. The rest of the field stays as received.
void MakeReply(uint8_t* datagram, uint32_t code, const char* ownUpperName);
// A fresh datagram: all zero but the command, a count of 1 and our name.
void MakeAnnouncement(uint8_t* datagram, uint32_t code, const char* ownUpperName);

uint32_t ReadBigEndian32(const uint8_t* bytes);
void WriteBigEndian32(uint8_t* bytes, uint32_t value);

}  // namespace qb
