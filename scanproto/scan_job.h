// The record of one scan-protocol connection, shared by the protocol
// handlers. The libraries below (imaging/, storage/) never see it: the
// handlers hand them the coder, the page file, buffers and a StoredDocument.
// It owns everything it points to (the buffers are part of it, so nothing
// is allocated per packet and nothing is left to free by hand); the
// connection that owns the record owns the socket.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/fax_coder.h"
#include "imaging/page_file.h"
#include "platform/event_loop.h"
#include "platform/net.h"
#include "scanproto/received_header.h"
#include "storage/document_files.h"
#include "storage/name_reservations.h"

namespace qb {

constexpr uint16_t kJobPort = 37100;
constexpr uint16_t kDirectPort = 37101;

constexpr size_t kRxBufferSize = 25600;
constexpr size_t kMaxRxBody = 24576;  // 0x6000
constexpr size_t kTxBufferSize = 32768;
constexpr size_t kMaxTxBody = kTxBufferSize - 2;
constexpr size_t kLineBufSize = 10240;
constexpr size_t kPathMax = 260;
constexpr size_t kParaCopySize = 540;

// Admission states of a connection.
enum : int32_t {
  kStateAdmitted = 0,  // greeting "OK" not yet sent
  kStateGreeted = 1,   // replies may flow
  kStateJobLimit = 2,  // refused, "NG" 0x15
  kStateDiskFull = 3,  // refused, "NG" 0x01
};

// The fixed words of the parameter request kept for the document; the
// texts and the meta-data record they point at stay in `paraCopy`, at the
// offsets given here.
struct KeptParaRequest {
  uint16_t code = 0;
  uint16_t destination = 0;
  uint16_t nameOffset = 0;
  uint16_t metaOffset = 0;  // 0: no meta data
};

struct ScanJob {
  // --- connection fields ---
  int32_t socket = -1;         // its number, for traces and the scanner list
  LoopSocket* link = nullptr;  // the socket itself, owned by the connection
  Ipv4Peer peerAddress;
  uint32_t txCount = 0;     // bytes of the current reply sent, length field included
  uint16_t listenPort = 0;  // 37100 or 37101
  int32_t state = kStateAdmitted;
  uint16_t txLength = 0;            // body length of the reply in txBuffer
  uint8_t txBuffer[kTxBufferSize];  // length field, then the reply's body
  int32_t txState = 0;              // 1 handed to SendPacket, 2 sent completely
  bool closing = false;             // its close waits for the handler to return
  bool held = false;                // document work runs off the loop (see RunDocumentWork)
  char peerIp[33];
  char peerName[33];

  // --- job fields ---
  uint16_t majorVersion = 0;
  uint16_t minorVersion = 0;
  uint16_t clientKeyNo = 0;
  uint16_t serverKeyNo = 0;
  char senderName[33];
  KeptParaRequest para;
  uint8_t paraCopy[kParaCopySize];  // the request as the printer sent it, its words included
  int32_t deferredNotify = 0;
  int32_t notifyPending = 0;
  char folderPath[kPathMax];
  char fileName[kPathMax];
  int32_t jobNo = 0;
  int32_t fileOk = 1;
  char outputPath[kPathMax];
  std::unique_ptr<uint8_t[]> metaData;  // a meta-data block too long for paraCopy
  uint32_t metaDataLength = 0;
  int32_t checksumOk = 0;
  uint16_t checksum = 0;
  int32_t imageDataMode = 0;
  int32_t discardMode = 0;
  int32_t pageCount = 0;
  // The page being received: a raw page's temporary file or a staging file.
  PageFile pageFile;
  uint8_t lineBuf[kLineBufSize];  // raw lines gathered for the coder

  // --- image reception state ---
  uint32_t rcvTotalImgBytes = 0;
  uint32_t hddFreeBytes = 0;
  uint32_t tempJobNo = 0;
  uint32_t multiPage = 1;
  char curFilePath[kPathMax];
  char saveFileTitle[kPathMax];
  char baseName[kPathMax];
  uint32_t numberWidth = 0;
  uint32_t lineFill = 0;
  // The last image header that opened a page or file, parsed.
  ImageHeader imageHeader;
  FaxCoder coder;
  // The document's files in the destination until its end of data puts
  // them in place; also holds the names reserved for it.
  std::unique_ptr<DocumentFiles> files =
      std::make_unique<DocumentFiles>(NameReservations::NewOwner());

  // Every counter, flag and string at its initial value; buffers and
  // pointers are left to the owner.
  void ClearJobFields() {
    txCount = 0;
    state = kStateAdmitted;
    txLength = 0;
    txState = 0;
    closing = false;
    held = false;
    peerIp[0] = peerName[0] = '\0';
    majorVersion = minorVersion = clientKeyNo = serverKeyNo = 0;
    senderName[0] = '\0';
    para = KeptParaRequest{};
    for (uint8_t& b : paraCopy) b = 0;
    deferredNotify = notifyPending = 0;
    folderPath[0] = fileName[0] = outputPath[0] = '\0';
    jobNo = 0;
    fileOk = 1;
    metaDataLength = 0;
    checksumOk = 0;
    checksum = 0;
    imageDataMode = discardMode = 0;
    pageCount = 0;
    pageFile.Close();
    rcvTotalImgBytes = hddFreeBytes = tempJobNo = 0;
    multiPage = 1;
    curFilePath[0] = saveFileTitle[0] = baseName[0] = '\0';
    numberWidth = lineFill = 0;
    imageHeader = ImageHeader();
    coder = FaxCoder();
  }
};

}  // namespace qb
