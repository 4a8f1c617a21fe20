#include "scanproto/dispatcher.h"

#include "platform/trace.h"
#include "scanproto/cipher.h"
#include "scanproto/handlers.h"
#include "scanproto/job_context.h"

namespace qb {
namespace {

using Handler = void (*)(ScanJob&, uint8_t*, size_t);

struct Route {
  uint16_t code;
  const char* trace;
  Handler handler;
};

constexpr Route kJobPortRoutes[] = {
    {TVS_DIRECT_CAP, " RcvMsg:TVS_DIRECT_CAP", OnCap},
    {TVS_DIRECT_PARA, " RcvMsg:TVS_DIRECT_PARA", OnPara},
    {TVS_DIRECT_PARA2, " RcvMsg:TVS_DIRECT_PARA2", OnPara2},
    {TVS_IMAGE_HEADER, " RcvMsg:TVS_IMAGE_HEADER", OnImageHeader},
    {TVS_PAGE_END, " RcvMsg:TVS_PAGE_END", OnPageEnd},
    {TVS_DATA_END, " RcvMsg:TVS_DATA_END", OnDataEnd},
    {TVS_PAGE_DELETE, " RcvMsg:TVS_PAGE_DELETE", OnPageDelete},
    {TVS_IMG_CHECKSUM, " RcvMsg:TVS_IMG_CHECKSUM", OnImgChecksum},
};

constexpr Route kDirectPortRoutes[] = {
    {TVS_DIRECT_CAP, " RcvMsg:TVS_DIRECT_CAP", OnCapDirect},
    {TVS_DIRECT_PARA2, " RcvMsg:TVS_DIRECT_PARA2", OnPara2Direct},
    {TVS_DIRECT_DIR_NAME, " RcvMsg:TVS_DIRECT_DIR_NAME", OnDirName},
    {TVS_DIRECT_DIR_LIST, " RcvMsg:TVS_DIRECT_DIR_LIST", OnDirList},
};

template <size_t N>
const Route* FindRoute(const Route (&routes)[N], uint16_t code) {
  for (const Route& route : routes) {
    if (route.code == code) return &route;
  }
  return nullptr;
}

// The receive buffer is cleared before every packet, so a 1-byte body
// reads as its byte followed by zero, without reading past the buffer.
uint16_t MessageCode(const uint8_t* body, size_t length) {
  return length >= 2 ? ReadBe16(body) : static_cast<uint16_t>(length == 1 ? body[0] << 8 : 0);
}

constexpr uint16_t kParaResLength = 10;

void WriteParaRes(uint8_t* body, uint16_t result, uint16_t error, uint32_t value) {
  WriteBe16(body, DT_DIRECT_PARARES);
  WriteBe16(body + 2, result);
  WriteBe16(body + 4, error);
  WriteBe32(body + 6, value);
}

void SendBody(ScanJob& job, uint16_t length) {
  job.txLength = length;
  job.txState = 1;
  job.context->SendPacket(job);
}

}  // namespace

void DispatchPacket(ScanJob& job, uint8_t* body, size_t length) {
  if (job.imageDataMode) {
    if (length < 5) {
      TraceLog("   ImgDataEnd Flag");
      job.imageDataMode = false;
    } else {
      if (!job.document.discarding) OnImageData(job, body, length);
      return;
    }
  }

  if (job.listenPort == kJobPort) {
    const Route* route = FindRoute(kJobPortRoutes, MessageCode(body, length));
    if (route == nullptr) return;  // unknown codes on the job port are ignored silently
    TraceLog("%s", route->trace);
    route->handler(job, body, length);
    return;
  }

  CipherBody(CipherKeyText(job), body, length, kDecipher);
  uint16_t code = MessageCode(body, length);
  const Route* route = FindRoute(kDirectPortRoutes, code);
  if (route == nullptr) {
    TraceLog(" RcvMsg:Unknown Message(%04x)", code);
    return;
  }
  TraceLog("%s", route->trace);
  route->handler(job, body, length);
}

void SendParaRes(ScanJob& job, uint16_t result, uint16_t error, uint32_t value) {
  WriteParaRes(job.txBuffer + 2, result, error, value);
  SendBody(job, kParaResLength);
}

void SendParaResDirect(ScanJob& job, uint16_t result, uint16_t error, uint32_t value) {
  WriteParaRes(job.txBuffer + 2, result, error, value);
  CipherBody(CipherKeyText(job), job.txBuffer + 2, kParaResLength, kEncipher);
  SendBody(job, kParaResLength);
}

void SendThreeWords(ScanJob& job, uint16_t code, uint16_t a, uint16_t b) {
  uint8_t* body = job.txBuffer + 2;
  WriteBe16(body, code);
  WriteBe16(body + 2, a);
  WriteBe16(body + 4, b);
  SendBody(job, 6);
}

void SendChecksumRes(ScanJob& job, uint16_t result, uint16_t error) {
  SendThreeWords(job, DT_IMG_CHECKSUMRES, result, error);
}

void SendPcCancel(ScanJob& job, uint16_t reason) {
  TraceLog("  ### Send to PC_Cancel(%04x)", reason);
  uint8_t* body = job.txBuffer + 2;
  WriteBe16(body, DT_PC_CANCEL);
  WriteBe16(body + 2, reason);
  SendBody(job, 4);
}

}  // namespace qb
