// Routes each complete packet of a connection: image data while a page is
// being received, otherwise a message by its code (deciphered first on the
// direct port). Also the small reply senders shared by the handlers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scanproto/scan_job.h"

namespace qb {

// Message codes.
constexpr uint16_t TVS_DIRECT_CAP = 0x3400;
constexpr uint16_t TVS_DIRECT_PARA = 0x3401;
constexpr uint16_t TVS_DIRECT_PARA2 = 0x3402;
constexpr uint16_t TVS_IMAGE_HEADER = 0x3001;
constexpr uint16_t TVS_PAGE_END = 0x3002;
constexpr uint16_t TVS_DATA_END = 0x3003;
constexpr uint16_t TVS_PAGE_DELETE = 0x3004;
constexpr uint16_t TVS_IMG_CHECKSUM = 0x3005;
constexpr uint16_t TVS_DIRECT_DIR_NAME = 0x3800;
constexpr uint16_t TVS_DIRECT_DIR_LIST = 0x3801;
constexpr uint16_t DT_DIRECT_CAPRES = 0x3410;
constexpr uint16_t DT_DIRECT_PARARES = 0x3411;
constexpr uint16_t DT_DATA_ENDRES = 0x3013;
constexpr uint16_t DT_IMG_CHECKSUMRES = 0x3015;
constexpr uint16_t DT_PC_CANCEL = 0x3602;
constexpr uint16_t DT_DIRECT_DIR_NAMERES = 0x3810;
constexpr uint16_t DT_DIRECT_DIR_LISTRES = 0x3811;

// Error codes carried in replies.
constexpr uint16_t kErrNone = 0;
constexpr uint16_t kErrParaRefused = 0x3E01;
constexpr uint16_t kErrNoMemory = 0x3E03;
constexpr uint16_t kErrChecksum = 0x3E05;
constexpr uint16_t kErrFolder = 0x3E40;
constexpr uint16_t kReasonPcCancel = 0xFEE2;

// Handles one packet; `body` points into the job's receive buffer and may
// be changed in place. `length` bytes of it were received.
void DispatchPacket(ScanJob& job, uint8_t* body, size_t length);

// Big-endian helpers for message bodies.
inline uint16_t ReadBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
// The 16-bit field at `offset` of a body of `length` bytes, read as the
// zero-filled receive buffer holds it: bytes past the body count as 0.
inline uint16_t BodyWord(const uint8_t* body, size_t length, size_t offset) {
  const unsigned high = offset < length ? body[offset] : 0;
  const unsigned low = offset + 1 < length ? body[offset + 1] : 0;
  return static_cast<uint16_t>(high << 8 | low);
}
inline uint32_t ReadBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline void WriteBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void WriteBe32(uint8_t* p, uint32_t v) {
  WriteBe16(p, static_cast<uint16_t>(v >> 16));
  WriteBe16(p + 2, static_cast<uint16_t>(v));
}

// Reply senders: each writes its body at offset 2 of txBuffer, sets
// txLength and calls SendPacket.
void SendParaRes(ScanJob& job, uint16_t result, uint16_t error, uint32_t value);
void SendParaResDirect(ScanJob& job, uint16_t result, uint16_t error, uint32_t value);
void SendThreeWords(ScanJob& job, uint16_t code, uint16_t a, uint16_t b);
void SendChecksumRes(ScanJob& job, uint16_t result, uint16_t error);
void SendPcCancel(ScanJob& job, uint16_t reason);

}  // namespace qb
