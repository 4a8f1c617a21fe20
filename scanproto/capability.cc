#include "scanproto/capability.h"

#include <cstring>
#include <ctime>
#include <random>

#include "platform/clock.h"
#include "platform/trace.h"
#include "scanproto/cipher.h"
#include "scanproto/dispatcher.h"
#include "scanproto/handlers.h"
#include "scanproto/job_context.h"

namespace qb {
namespace {

struct FormatName {
  uint16_t offset;
  const char* name;
};
constexpr FormatName kFormats[] = {{16, "TIFF-G4MMR"}, {27, "PDF-G4MMR"}, {37, "TIFF-G3MH"}};
constexpr uint8_t kFillerOffsets[] = {47, 56};
constexpr size_t kFillerChars = 8;

// Printers check that the filler texts are there, not what they say; they
// only have to vary from reply to reply.
void WriteFiller(uint8_t* out, unsigned seed) {
  std::minstd_rand generator(seed);
  for (size_t i = 0; i < kFillerChars; ++i) out[i] = static_cast<uint8_t>(generator() % 93 + 33);
  out[kFillerChars] = 0;
}

uint16_t RequestField(const uint8_t* body, size_t length, size_t at) {
  return at + 2 <= length ? ReadBe16(body + at) : 0;
}

void RecordVersion(ScanJob& job, const uint8_t* body, size_t length) {
  job.majorVersion = RequestField(body, length, 2);
  job.minorVersion = RequestField(body, length, 4);
  TraceLog("  Major:%ld Minor:%ld", static_cast<long>(job.majorVersion),
           static_cast<long>(job.minorVersion));
}

void SendCapabilityReply(ScanJob& job) {
  job.txLength = kCapResLength;
  job.txState = 1;
  job.context->SendPacket(job);
}

}  // namespace

void BuildCapabilityReply(uint8_t* out, bool direct, uint16_t serverKeyNo) {
  std::memset(out, 0, kCapResLength);
  WriteBe16(out, DT_DIRECT_CAPRES);
  WriteBe16(out + 2, 1);
  for (size_t i = 0; i < 3; ++i) {
    WriteBe16(out + 4 + 2 * i, kFormats[i].offset);
    std::memcpy(out + kFormats[i].offset, kFormats[i].name, std::strlen(kFormats[i].name) + 1);
  }
  if (!direct) return;
  unsigned seed = static_cast<unsigned>(std::time(nullptr)) + WallClockMilliseconds();
  for (size_t i = 0; i < 2; ++i) {
    // The only little-endian fields of the protocol.
    out[10 + 2 * i] = kFillerOffsets[i];
    out[11 + 2 * i] = 0;
    WriteFiller(out + kFillerOffsets[i], seed + static_cast<unsigned>(i) * 7919);
  }
  WriteBe16(out + 14, serverKeyNo);
}

void OnCap(ScanJob& job, uint8_t* body, size_t length) {
  RecordVersion(job, body, length);
  BuildCapabilityReply(job.txBuffer + 2, false, 0);
  SendCapabilityReply(job);
}

void OnCapDirect(ScanJob& job, uint8_t* body, size_t length) {
  RecordVersion(job, body, length);
  job.clientKeyNo = RequestField(body, length, 6);
  job.serverKeyNo = static_cast<uint16_t>(WallClockMilliseconds());
  BuildCapabilityReply(job.txBuffer + 2, true, job.serverKeyNo);
  // The printer learns our key number from this very reply, so it cannot
  // be enciphered with it yet.
  CipherBody(CipherKeyTextServerZero(job), job.txBuffer + 2, kCapResLength, kEncipher);
  SendCapabilityReply(job);
}

}  // namespace qb
