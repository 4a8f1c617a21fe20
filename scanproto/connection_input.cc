// Reading a printer's packets. Outside page data a packet is read by
// itself: its length field, then its body into the connection's buffer.
// Page data come in packets of up to 24 KB, one after another; reading
// them one by one costs two system calls a packet, more than coding one.
// So while a job receives page data its connection borrows one of the
// server's batch buffers, reads whatever the socket holds in one call and
// handles every whole packet where it lies.
//
// A lone printer's page data are coded right here on the loop: a trip to
// a worker and back would cost more than the coding. With several printers
// sending pages, the page data of one batch go to a worker in one trip
// while the job is held, so the loop thread keeps every core busy. The
// buffers are few, so memory does not grow with the crowd: a connection
// that finds none lent out waits, unread, for the next one given back
// (in turn, round the table), rather than code on the loop in the
// workers' stead.
// Nothing more is handled for a held job until its work is done, and then
// the rest of its batch is handled first, so the order of pages and
// replies is the order the printer sent them.
#include <cstring>

#include "platform/trace.h"
#include "scanproto/dispatcher.h"
#include "scanproto/handlers.h"
#include "scanproto/reception_support.h"
#include "scanproto/server_running.h"

namespace qb {
namespace {

// One read of page data: about ten whole packets. As much as the kernel's
// receive buffer of a printer's socket (256 KiB asked, see scan_server.cc)
// usually holds of data.
constexpr size_t kBatchBytes = 262144;
constexpr size_t kBatchBuffers = 4;

uint16_t LengthField(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

// Whether a packet of `length` bytes is page data that the handlers take
// as it lies (the dispatcher's rule: in the data phase, five bytes and up).
bool IsPageData(const ScanJob& job, size_t length) { return job.imageDataMode && length >= 5; }

}  // namespace

void ScanServer::Running::GiveBackBatch(std::unique_ptr<uint8_t[]>& batch) {
  spareBatches.push_back(std::move(batch));
  for (int step = 0; step < kConnectionSlots; ++step) {
    Connection* waiting = slots[(nextBatchWaiter + step) % kConnectionSlots].get();
    if (waiting == nullptr || !waiting->waitingForBatch) continue;
    nextBatchWaiter = (nextBatchWaiter + step + 1) % kConnectionSlots;
    waiting->waitingForBatch = false;
    waiting->socket.PauseReading(false);
    return;
  }
}

void ScanServer::Running::LendBatches() {
  spareBatches.reserve(kBatchBuffers);
  for (size_t i = 0; i < kBatchBuffers; ++i) {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kBatchBytes]);
    if (buffer) spareBatches.push_back(std::move(buffer));
  }
}

size_t ScanServer::Running::Connection::PendingBytes() const {
  const size_t partPacket = rxLengthBytes + (rxLength == 0 ? 0 : 2u + rxCount);
  return partPacket + (batch ? batchEnd - batchBegin : 0);
}

void ScanServer::Running::Connection::OnReadable() {
  ScanJob& j = *job;
  if (j.held) return;  // reading is paused; this was reported before the pause
  idleSeconds = 0;
  if (!batch && j.imageDataMode && rxLength <= kMaxRxBody) {
    if (server.spareBatches.empty()) {
      waitingForBatch = true;
      socket.PauseReading(true);
      return;
    }
    batch = std::move(server.spareBatches.back());
    server.spareBatches.pop_back();
    ReadBatch();
  } else {
    ReadPacketAtATime();
  }
  server.EndClosingJobs();
}

void ScanServer::Running::Connection::ReadBatch() {
  const long got = ReceiveOrShutDown(socket, batch.get(), kBatchBytes, [this] {
    TraceLog(" OnReadError 3(%ld)", static_cast<long>(LastSocketError()));
    socket.Watch(this, kEventPeerClosed);
  });
  batchBegin = 0;
  batchEnd = static_cast<uint32_t>(got);
  FeedBatch();
}

void ScanServer::Running::Connection::ResumeBatch() {
  // Within FeedBatch (work that ran at once) the loop there goes on.
  if (batch && !feeding) FeedBatch();
}

void ScanServer::Running::Connection::FeedBatch() {
  ScanJob& j = *job;
  feeding = true;
  while (batchBegin < batchEnd && !j.held) {
    if (j.closing) {
      batchBegin = batchEnd;  // nothing more is handled for a job that ends
      break;
    }
    if (rxLength == 0) {
      if (!TakeLengthField()) continue;
      if (IsPageData(j, rxLength) && batchEnd - batchBegin >= rxLength) {
        HandleImageData();
        continue;
      }
    }
    TakeBodyBytes();
  }
  feeding = false;
  if (batchBegin == batchEnd && !j.held) server.GiveBackBatch(batch);
}

// Takes the next length field, or its first byte. True when a packet with
// a body follows.
bool ScanServer::Running::Connection::TakeLengthField() {
  const uint8_t* at = batch.get() + batchBegin;
  if (rxLengthBytes == 0 && batchEnd - batchBegin >= 2) {
    rxBuffer[0] = at[0];
    rxBuffer[1] = at[1];
    batchBegin += 2;
  } else {
    rxBuffer[rxLengthBytes++] = at[0];
    batchBegin += 1;
    if (rxLengthBytes < 2) return false;
    rxLengthBytes = 0;
  }
  rxWrite = rxBuffer + 2;
  const uint16_t length = LengthField(rxBuffer);
  if (length == 0 || length == 2) {
    TraceLog("  Rcv:JCSock Packet(Length=%d)", length);
    return false;
  }
  rxLength = length;
  if (length > kMaxRxBody) {
    TraceLog(" JcSockSize=%ld(%ld)", static_cast<long>(length), static_cast<long>(kMaxRxBody));
    socket.Shutdown(kShutBoth);
    batchBegin = batchEnd;
    return false;
  }
  return true;
}

// Copies body bytes of the current packet into the connection's buffer;
// a packet that is whole there is handled.
void ScanServer::Running::Connection::TakeBodyBytes() {
  size_t take = rxLength - rxCount;
  if (take > batchEnd - batchBegin) take = batchEnd - batchBegin;
  std::memcpy(rxWrite, batch.get() + batchBegin, take);
  batchBegin += static_cast<uint32_t>(take);
  rxWrite += take;
  rxCount += static_cast<uint32_t>(take);
  if (rxCount == rxLength) DispatchWholePacket();
}

// The packet of rxLength bytes at batchBegin is page data and whole: it is
// handled where it lies. With other printers sending pages too, it and the
// whole page-data packets after it are coded on a worker in one trip.
void ScanServer::Running::Connection::HandleImageData() {
  ScanJob& j = *job;
  Document& doc = j.document;
  uint8_t* body = batch.get() + batchBegin;
  size_t length = rxLength;
  batchBegin += rxLength;
  rxLength = 0;
  const bool toWorker = doc.imageHeader.dataForm == kDataFormRaw && CodingIntoPageFile(doc) &&
                        !doc.discarding && server.owner.JobsReceivingRawData() > 1;
  if (!toWorker) {
    DispatchPacket(j, body, length);
    return;
  }
  // The run holds framed packets (length field, body), each one counted
  // here on the loop; one that is refused ends the run (the job is
  // cancelled and discards the rest).
  uint8_t* const runBegin = body - 2;
  uint8_t* runEnd = runBegin;
  for (;;) {
    if (!AcceptImageData(j, length)) break;
    runEnd = body + length;
    if (batchEnd - batchBegin < 2) break;
    const uint16_t next = LengthField(batch.get() + batchBegin);
    if (next < 5 || next > kMaxRxBody || batchEnd - batchBegin - 2 < next) break;
    body = batch.get() + batchBegin + 2;
    length = next;
    batchBegin += 2u + next;
  }
  if (runEnd == runBegin) return;
  server.owner.RunDocumentWork(
      j, [&doc, runBegin, runEnd] { CodeImageRun(doc, runBegin, runEnd); }, [] {});
}

// The packet in the connection's buffer is whole: everything after its
// body reads as zero, as if the buffer had been cleared before it.
void ScanServer::Running::Connection::DispatchWholePacket() {
  ScanJob& j = *job;
  const size_t end = 2 + rxCount;
  if (rxDirtyEnd > end) std::memset(rxBuffer + end, 0, rxDirtyEnd - end);
  rxDirtyEnd = static_cast<uint16_t>(end);
  const uint32_t length = rxCount;
  rxLength = 0;
  rxCount = 0;
  DispatchPacket(j, rxBuffer + 2, length);
}

// Outside page data: the length field,
// then the body, each read by itself.
void ScanServer::Running::Connection::ReadPacketAtATime() {
  long got = 0;
  if (rxLength == 0) {
    if (rxLengthBytes == 0) rxWrite = rxBuffer + 2;
    got = ReceiveOrShutDown(socket, rxBuffer + rxLengthBytes, 2 - rxLengthBytes,
                            [] { TraceLog(" OnReadError 0"); });
    if (got == 0) return;
    rxLengthBytes = static_cast<uint8_t>(rxLengthBytes + got);
    if (rxLengthBytes < 2) return;  // the second byte follows
    rxLengthBytes = 0;

    const uint16_t length = LengthField(rxBuffer);
    if (length == 0 || length == 2) {
      TraceLog("  Rcv:JCSock Packet(Length=%d)", length);
      return;
    }
    rxLength = length;
    if (length > kMaxRxBody) {
      TraceLog(" JcSockSize=%ld(%ld)", static_cast<long>(length), static_cast<long>(kMaxRxBody));
      socket.Shutdown(kShutBoth);
      return;
    }
    got = ReceiveOrShutDown(socket, rxWrite, rxLength, [] { TraceLog(" OnReadError 2"); });
    if (got == 0) return;
  } else {
    if (rxLength > kMaxRxBody) {
      // An oversized packet shut the connection down; nothing more is kept.
      Drain(socket, 2047);
      return;
    }
    got = ReceiveOrShutDown(socket, rxWrite, rxLength - rxCount, [this] {
      TraceLog(" OnReadError 3(%ld)", static_cast<long>(LastSocketError()));
      socket.Watch(this, kEventPeerClosed);
    });
    if (got == 0) return;
  }
  rxCount += static_cast<uint32_t>(got);
  rxWrite += got;
  if (rxCount == rxLength) DispatchWholePacket();
}

}  // namespace qb
