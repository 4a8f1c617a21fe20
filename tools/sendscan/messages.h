// The printer's side of the scan protocol: request bodies it sends and the
// receiver's replies put into words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sendscan/printer_link.h"

namespace qb::sendscan {

constexpr uint16_t kCap = 0x3400;
constexpr uint16_t kPara = 0x3401;
constexpr uint16_t kPara2 = 0x3402;
constexpr uint16_t kImageHeader = 0x3001;
constexpr uint16_t kPageEnd = 0x3002;
constexpr uint16_t kDataEnd = 0x3003;
constexpr uint16_t kImgChecksum = 0x3005;
constexpr uint16_t kDirName = 0x3800;
constexpr uint16_t kDirList = 0x3801;
constexpr uint16_t kCapRes = 0x3410;
constexpr uint16_t kParaRes = 0x3411;
constexpr uint16_t kDataEndRes = 0x3013;
constexpr uint16_t kChecksumRes = 0x3015;
constexpr uint16_t kPcCancel = 0x3602;
constexpr uint16_t kDirNameRes = 0x3810;
constexpr uint16_t kDirListRes = 0x3811;

constexpr size_t kMaxBody = 24576;

void PutBe16(Bytes* body, size_t at, uint16_t value);
void PutBe32(Bytes* body, size_t at, uint32_t value);
// 0 when the field is not inside the body.
uint16_t GetBe16(const Bytes& body, size_t at);
uint32_t GetBe32(const Bytes& body, size_t at);

// Capability request; the key number is sent only on the direct port.
Bytes CapRequest(uint16_t major, uint16_t minor, bool direct, uint16_t clientKey);
Bytes ParaRequest(uint16_t destination);

// What a parameter request names besides the destination.
struct JobParameters {
  std::string senderName;  // the 16-character name field; "" = none
  Bytes metaRecord;        // the meta-data block; empty = none
};
// The extended parameter request: the sender name at offset 8, the meta
// data block at offset 26; the parameter data reach offset 540 when a block
// is sent.
Bytes Para2Request(uint16_t destination, const JobParameters& parameters);
// The direct port's folder check: exactly 8 bytes, both offsets 0.
Bytes Para2DirectRequest(uint16_t destination);

// Meta-data records.
Bytes AttributeRecord(const std::string& subFolder, const std::string& fileName);
Bytes SenderRecord(const std::string& name);

struct ImageHeaderFields {
  uint16_t dataForm = 0;   // 0 raw lines, 1 TIFF, 4 JPEG, 5 PDF
  std::string formatName;  // raw road only; "" sends offset 0
  uint32_t dataLength = 0;
  uint16_t resolutionCode = 0x0200;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t continuation = 0;
  std::string documentName;
};
Bytes ImageHeader(const ImageHeaderFields& fields);
Bytes TwoWords(uint16_t code, uint16_t value);

Bytes DirNameRequest(uint16_t destination);
Bytes DirListRequest(const std::string& path);

// One reply in words, for the user.
std::string DescribeReply(const Bytes& body);
// The meaning of an error word.
std::string ErrorInWords(uint16_t error);

}  // namespace qb::sendscan
