// The record of one scan-protocol connection, shared by the protocol
// handlers: the socket and the reply being sent, the peer, the admission
// state, what the capability exchange settled, and the connection's one
// Document (scanproto/document.h). The libraries below (imaging/,
// storage/) never see it: the handlers hand them the coder, the page file,
// buffers and a StoredDocument. It owns everything it points to (the
// buffers are part of it, so nothing is allocated per packet and nothing
// is left to free by hand); the connection that owns the record owns the
// socket.
//
// Which side a field is on follows how long it must live:
// - here, what holds for every message of the connection: the protocol
//   version and the two key numbers of the capability exchange (every
//   later request is checked against the version, and every direct-port
//   body is ciphered with the keys); `imageDataMode`, which tells the
//   dispatcher that the next packets are image data; and the deferred
//   notice (`deferredNotify`, `notifyPending`): a printer that asked for it
//   has its document logged and announced when it hangs up, so the
//   connection's end, not the document's, acts on it;
// - in `document`, everything from the parameter request on: the request
//   and its meta data, folder and names, the sender name, job number,
//   checksum, discard and page state, the image header, coder, page file,
//   line buffer and the document's files.
#pragma once

#include <cstdint>

#include "platform/event_loop.h"
#include "platform/net.h"
#include "scanproto/access_lock.h"
#include "scanproto/document.h"

namespace qb {

class JobContext;

constexpr uint16_t kJobPort = 37100;
constexpr uint16_t kDirectPort = 37101;

constexpr size_t kRxBufferSize = 25600;
constexpr size_t kMaxRxBody = 24576;  // 0x6000
constexpr size_t kTxBufferSize = 32768;
constexpr size_t kMaxTxBody = kTxBufferSize - 2;

// Admission states of a connection.
enum : int32_t {
  kStateAdmitted = 0,  // greeting "OK" not yet sent
  kStateGreeted = 1,   // replies may flow
  kStateJobLimit = 2,  // refused, "NG" 0x15
  kStateDiskFull = 3,  // refused, "NG" 0x01
  // Refused, "NG" 0x15 as for the job limit: its address holds its share
  // of connections already. Closed once the greeting is out.
  kStateAddressLimit = 4,
};

constexpr int32_t kPeerClassNotYet = -1;

struct ScanJob {
  // The document's files go through `env` (the server's).
  explicit ScanJob(Env& env) : document(env) {}

  // --- the socket and the reply ---
  int32_t socket = -1;            // its number, for traces and the scanner list
  LoopSocket* link = nullptr;     // the socket itself, owned by the connection
  JobContext* context = nullptr;  // the server that serves it (scanproto/job_context.h)
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
  // The printer's class (access_lock.h), found once per connection; the
  // server finds it off the loop before it reads the first message.
  // kPeerClassNotYet: asked for at the first use (jobs outside a server).
  mutable int32_t peerClass = kPeerClassNotYet;
  int PeerClass() const {
    if (peerClass == kPeerClassNotYet) peerClass = ClassifyPeer(peerIp);
    return peerClass;
  }

  // --- settled for the whole connection ---
  uint16_t majorVersion = 0;
  uint16_t minorVersion = 0;
  uint16_t clientKeyNo = 0;
  uint16_t serverKeyNo = 0;
  bool imageDataMode = false;   // packets are image data until a short one or a page end
  bool deferredNotify = false;  // documents are logged and announced at the hang-up
  bool notifyPending = false;   // a stored document waits for that

  Document document;

  // Every counter, flag and string at its initial value, the document
  // cleared; the socket fields and txBuffer are left to the owner.
  void Clear() {
    txCount = 0;
    state = kStateAdmitted;
    txLength = 0;
    txState = 0;
    closing = false;
    held = false;
    peerIp[0] = peerName[0] = '\0';
    peerClass = kPeerClassNotYet;
    majorVersion = minorVersion = clientKeyNo = serverKeyNo = 0;
    imageDataMode = false;
    deferredNotify = notifyPending = false;
    document.Clear();
  }
};

}  // namespace qb
