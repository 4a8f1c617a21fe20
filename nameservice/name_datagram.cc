#include "nameservice/name_datagram.h"

#include <cstring>

namespace qb {

uint32_t ReadBigEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

void WriteBigEndian32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

void UpperCaseAscii(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
  }
}

void ParseNameDatagram(const uint8_t* bytes, NameDatagram* out) {
  out->command = ReadBigEndian32(bytes);
  out->count = ReadBigEndian32(bytes + 4);
  // The extra byte of `name` terminates a field that holds no NUL.
  std::memcpy(out->name, bytes + kNameFieldOffset, kNameFieldBytes);
  out->name[kNameFieldBytes] = '\0';
  std::memcpy(out->upperName, out->name, sizeof out->name);
  UpperCaseAscii(out->upperName);
}

ReplyPlan PlanReply(uint32_t command, bool nameIsOurs) {
  switch (command) {
    case kNameResolveReq:
      return nameIsOurs ? ReplyPlan{true, kNameResolveRes, kNameServicePort, true} : ReplyPlan{};
    case kNameNotifyReq:
      return ReplyPlan{true, kNameNotifyRes, kNameServicePort, true};
    case kNameResolveReq2:
      return nameIsOurs ? ReplyPlan{true, kNameResolveRes2, kNameServicePort2, false} : ReplyPlan{};
    case kNameNotifyReq2:
      return ReplyPlan{true, kNameNotifyRes2, kNameServicePort2, false};
    default:
      return ReplyPlan{};
  }
}

void MakeReply(uint8_t* datagram, uint32_t code, const char* ownUpperName) {
  WriteBigEndian32(datagram, code);
  WriteBigEndian32(datagram + 4, 1);
  const size_t length = std::strlen(ownUpperName);
  const size_t copied = length < kNameFieldBytes ? length : kNameFieldBytes - 1;
  std::memcpy(datagram + kNameFieldOffset, ownUpperName, copied);
  datagram[kNameFieldOffset + copied] = 0;
}

void MakeAnnouncement(uint8_t* datagram, uint32_t code, const char* ownUpperName) {
  std::memset(datagram, 0, kNameDatagramBytes);
  MakeReply(datagram, code, ownUpperName);
}

}  // namespace qb
