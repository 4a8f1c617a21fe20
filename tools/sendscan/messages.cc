#include "tools/sendscan/messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qb::sendscan {
namespace {

constexpr size_t kNameAt = 8;
constexpr size_t kNameField = 16;
constexpr size_t kMetaAt = 26;
constexpr size_t kParaBlockEnd = 540;
constexpr size_t kHeaderRecord = 84;
constexpr size_t kStringsAt = 36;

std::string Hex(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

// Kept out of line: inlined into the message builders, where every size is
// a constant, g++ 12 at -O3 warns falsely (-Warray-bounds, -Wstringop-overflow)
// about the copy that growing the vector makes.
[[gnu::noinline]] void GrowTo(Bytes* body, size_t size) {
  if (body->size() < size) body->resize(size, 0);
}

void PutText(Bytes* body, size_t at, const std::string& text) {
  GrowTo(body, at + text.size() + 1);
  std::memcpy(body->data() + at, text.data(), text.size());
  (*body)[at + text.size()] = 0;
}

std::string TextIn(const Bytes& body, size_t at) {
  std::string text;
  for (size_t i = at; i < body.size() && body[i] != 0; ++i) text += static_cast<char>(body[i]);
  return text;
}

std::string DescribeCapRes(const Bytes& body) {
  std::string words = GetBe16(body, 2) == 1 ? "capability: accepted" : "capability: refused";
  words += "; formats";
  for (size_t field = 4; field <= 8; field += 2) {
    words += (field == 4 ? " " : ", ") + TextIn(body, GetBe16(body, field));
  }
  words += "; server key number " + std::to_string(GetBe16(body, 14));
  // The filler offsets are little-endian on the wire.
  if (body.size() >= 14 && (body[10] != 0 || body[12] != 0)) {
    words += "; fillers at " + std::to_string(body[10] | body[11] << 8) + " and " +
             std::to_string(body[12] | body[13] << 8);
  }
  return words + " (" + std::to_string(body.size()) + " bytes)";
}

std::string DescribeParaRes(const Bytes& body) {
  if (GetBe16(body, 2) != 1) return "parameters: refused, " + ErrorInWords(GetBe16(body, 4));
  uint32_t code = GetBe32(body, 6);
  char text[16];
  std::snprintf(text, sizeof text, "%08X", code);
  return std::string("parameters: accepted, access code ") + (code == 0xFFFFFFFF ? "none" : text);
}

std::string DescribeDirNameRes(const Bytes& body) {
  if (GetBe16(body, 2) != 1)
    return "destination folder: refused, " + ErrorInWords(GetBe16(body, 4));
  return "destination folder: " + TextIn(body, GetBe16(body, 6));
}

std::string DescribeDirListRes(const Bytes& body) {
  uint16_t count = GetBe16(body, 6);
  std::string words = "sub-folders: " + std::to_string(count);
  size_t at = 8;
  for (uint16_t i = 0; i < count && at < body.size(); ++i) {
    size_t length = body[at];
    if (at + 1 + length > body.size()) return words + " (entry " + std::to_string(i) + " cut off)";
    words += "\n  " + std::string(body.begin() + static_cast<long>(at) + 1,
                                  body.begin() + static_cast<long>(at + 1 + length));
    at += 1 + length;
  }
  return words;
}

}  // namespace

void PutBe16(Bytes* body, size_t at, uint16_t value) {
  GrowTo(body, at + 2);
  (*body)[at] = static_cast<uint8_t>(value >> 8);
  (*body)[at + 1] = static_cast<uint8_t>(value);
}

void PutBe32(Bytes* body, size_t at, uint32_t value) {
  PutBe16(body, at, static_cast<uint16_t>(value >> 16));
  PutBe16(body, at + 2, static_cast<uint16_t>(value));
}

uint16_t GetBe16(const Bytes& body, size_t at) {
  if (at + 2 > body.size()) return 0;
  return static_cast<uint16_t>(body[at] << 8 | body[at + 1]);
}

uint32_t GetBe32(const Bytes& body, size_t at) {
  return static_cast<uint32_t>(GetBe16(body, at)) << 16 | GetBe16(body, at + 2);
}

Bytes CapRequest(uint16_t major, uint16_t minor, bool direct, uint16_t clientKey) {
  Bytes body;
  PutBe16(&body, 0, kCap);
  PutBe16(&body, 2, major);
  PutBe16(&body, 4, minor);
  if (direct) PutBe16(&body, 6, clientKey);
  return body;
}

Bytes ParaRequest(uint16_t destination) {
  Bytes body;
  PutBe16(&body, 0, kPara);
  PutBe16(&body, 2, destination);
  return body;
}

Bytes Para2Request(uint16_t destination, const JobParameters& parameters) {
  Bytes body(kMetaAt, 0);
  PutBe16(&body, 0, kPara2);
  PutBe16(&body, 2, destination);
  if (!parameters.senderName.empty()) {
    PutBe16(&body, 4, kNameAt);
    std::memcpy(body.data() + kNameAt, parameters.senderName.data(),
                std::min(parameters.senderName.size(), kNameField));
  }
  if (!parameters.metaRecord.empty()) {
    PutBe16(&body, 6, kMetaAt);
    body.insert(body.end(), parameters.metaRecord.begin(), parameters.metaRecord.end());
    if (body.size() < kParaBlockEnd) body.resize(kParaBlockEnd, 0);
  }
  return body;
}

Bytes Para2DirectRequest(uint16_t destination) {
  Bytes body(8, 0);
  PutBe16(&body, 0, kPara2);
  PutBe16(&body, 2, destination);
  return body;
}

Bytes AttributeRecord(const std::string& subFolder, const std::string& fileName) {
  // Tag, length, number, six text offsets, then the texts.
  Bytes record(26, 0);
  std::memcpy(record.data(), "QNA_ATTR:", 9);
  if (!subFolder.empty()) {
    PutBe16(&record, 14, static_cast<uint16_t>(record.size()));
    PutText(&record, record.size(), subFolder);
  }
  if (!fileName.empty()) {
    PutBe16(&record, 16, static_cast<uint16_t>(record.size()));
    PutText(&record, record.size(), fileName);
  }
  PutBe16(&record, 10, static_cast<uint16_t>(record.size()));
  return record;
}

Bytes SenderRecord(const std::string& name) {
  Bytes record(9, 0);
  std::memcpy(record.data(), "QNN_SKAN:", 9);
  PutText(&record, 9, name);
  return record;
}

Bytes ImageHeader(const ImageHeaderFields& fields) {
  Bytes body(kHeaderRecord, 0);
  PutBe16(&body, 0, kImageHeader);
  PutBe16(&body, 2, fields.dataForm);
  PutBe32(&body, 6, fields.dataLength);
  PutBe16(&body, 10, fields.resolutionCode);
  PutBe16(&body, 12, fields.width);
  PutBe16(&body, 14, fields.height);
  PutBe16(&body, 22, 1);  // pixel packing: first pixel in the most significant bit
  PutBe16(&body, 24, 0);  // polarity: bit value 1 is black, as in PBM
  PutBe16(&body, 32, fields.continuation);
  size_t at = kStringsAt;
  if (!fields.formatName.empty()) {
    PutBe16(&body, 4, static_cast<uint16_t>(at));
    PutText(&body, at, fields.formatName);
    at += fields.formatName.size() + 1;
  }
  PutBe16(&body, 34, static_cast<uint16_t>(at));
  PutText(&body, at, fields.documentName);
  if (body.size() < kHeaderRecord) body.resize(kHeaderRecord, 0);
  return body;
}

Bytes TwoWords(uint16_t code, uint16_t value) {
  Bytes body;
  PutBe16(&body, 0, code);
  PutBe16(&body, 2, value);
  return body;
}

Bytes DirNameRequest(uint16_t destination) { return TwoWords(kDirName, destination); }

Bytes DirListRequest(const std::string& path) {
  Bytes body;
  PutBe16(&body, 0, kDirList);
  PutBe16(&body, 2, 4);
  PutText(&body, 4, path);
  return body;
}

std::string ErrorInWords(uint16_t error) {
  switch (error) {
    case 0:
      return "no error";
    case 0x3E01:
      return "error 0x3E01 (printer not served, wrong port or protocol version)";
    case 0x3E03:
      return "error 0x3E03 (no memory for the meta data)";
    case 0x3E05:
      return "error 0x3E05 (checksum mismatch)";
    case 0x3E40:
      return "error 0x3E40 (destination folder not found or not allowed)";
    case 0xFEE2:
      return "reason 0xFEE2 (the receiver cancels the job)";
  }
  return "error " + Hex(error);
}

std::string DescribeReply(const Bytes& body) {
  switch (GetBe16(body, 0)) {
    case kCapRes:
      return DescribeCapRes(body);
    case kParaRes:
      return DescribeParaRes(body);
    case kChecksumRes:
      return GetBe16(body, 2) == 1 ? "checksum: match"
                                   : "checksum: mismatch, " + ErrorInWords(GetBe16(body, 4));
    case kDataEndRes:
      return "data end: acknowledged";
    case kPcCancel:
      return "cancelled by the receiver, " + ErrorInWords(GetBe16(body, 2));
    case kDirNameRes:
      return DescribeDirNameRes(body);
    case kDirListRes:
      return DescribeDirListRes(body);
  }
  return "unknown reply " + Hex(GetBe16(body, 0)) + " (" + std::to_string(body.size()) + " bytes)";
}

}  // namespace qb::sendscan
