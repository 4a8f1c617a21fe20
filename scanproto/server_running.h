// Inside a started scan server: its listeners, the connection table with
// each connection's framing, and the workers. Private to scanproto/'s
// server files (scan_server.cc, connection_input.cc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/event_loop.h"
#include "platform/neighbours.h"
#include "platform/net.h"
#include "platform/worker_pool.h"
#include "scanproto/scan_job.h"
#include "scanproto/scan_server.h"

namespace qb {

// Reads and throws away what is pending, in chunks of `chunk` bytes.
inline void Drain(LoopSocket& socket, size_t chunk) {
  char scrap[2048];
  if (chunk > sizeof scrap) chunk = sizeof scrap;
  while (socket.Receive(scrap, chunk) > 0) {
  }
}

// Receives into the job's buffer. Returns the byte count, or 0 when the
// caller must stop: nothing is there yet, or the connection has been shut
// down (after `onError` for a failure other than would-block).
template <typename OnError>
long ReceiveOrShutDown(LoopSocket& socket, uint8_t* target, size_t length, OnError onError) {
  long got = socket.Receive(target, length);
  if (got > 0) return got;
  if (got < 0 && LastSocketError() == kWsaEWouldBlock) return 0;
  if (got < 0) onError();
  socket.Shutdown(kShutBoth);
  return 0;
}

// What a started server holds; made by Start, dropped by Stop.
struct ScanServer::Running {
  // One accepted socket, its framing and the job record of its printer. The
  // table owns it; it ends (socket closed, files cleaned up) only between
  // events.
  class Connection final : public SocketHandler {
   public:
    Connection(Running& server, int fd) : server(server), socket(server.loop, fd) {}
    void OnReadable() override;
    void OnWritable() override;
    void OnPeerClosed() override;

    Running& server;
    LoopSocket socket;
    std::unique_ptr<ScanJob> job;

    // Framing: a 2-byte length field, then the body, into a fixed buffer.
    uint32_t idleSeconds = 0;  // seconds since the last readable event
    uint16_t rxLength = 0;     // announced body length; 0 = waiting for a length field
    // Bytes of the length field received so far: TCP may split even those two.
    uint8_t rxLengthBytes = 0;
    uint32_t rxCount = 0;  // body bytes of the current packet so far
    // End of the bytes written by earlier packets: clearing only those keeps
    // the buffer as a full clear would, without touching 25600 bytes a packet.
    uint16_t rxDirtyEnd = 0;
    uint8_t rxBuffer[kRxBufferSize] = {};  // length field, then body
    uint8_t* rxWrite = rxBuffer + 2;       // where the next body bytes go

    // Page data are read many packets at a time into a buffer lent by the
    // server (see connection_input.cc). While document work holds the job,
    // the packets it has not handled yet wait here.
    std::unique_ptr<uint8_t[]> batch;
    uint32_t batchBegin = 0;  // the first byte not handled yet
    uint32_t batchEnd = 0;
    bool feeding = false;  // FeedBatch is on the stack
    // Paused until a batch buffer is free (all are lent).
    bool waitingForBatch = false;

    // Bytes received and not handled yet: a part packet and the batch.
    size_t PendingBytes() const;
    // Handles what is left of the batch once the job is no longer held.
    void ResumeBatch();

   private:
    void ReadPacketAtATime();
    void ReadBatch();
    void FeedBatch();
    bool TakeLengthField();
    void TakeBodyBytes();
    void HandleImageData();
    void DispatchWholePacket();
  };

  // A listening socket of one role (kJobPort or kDirectPort).
  class Listener final : public SocketHandler {
   public:
    explicit Listener(Running& server) : server(server) {}
    void OnAcceptable() override;
    // Stops watching for a while after an accept that failed for want of
    // descriptors or memory.
    void BackOff();
    void CancelBackOff();

    Running& server;
    LoopSocket socket;
    uint16_t role = kJobPort;
    EventLoop::TimerId backOffTimer = 0;
    bool inBurst = false;  // the failures since the last accepted connection were traced
  };

  explicit Running(ScanServer& owner) : owner(owner), loop(owner.loop_), hooks(owner.hooks_) {}

  bool AddressAtItsLimit(uint32_t address, uint16_t port) const;
  Connection* CreateConnection(LoopSocket socket, const Ipv4Peer& peer, uint16_t port);
  void ServeAccepted(LoopSocket socket, const Ipv4Peer& peer, uint16_t port);
  void ClassifyBeforeReading(ScanJob& job);
  void EndConnection(std::unique_ptr<Connection>& slot);
  void EndClosingJobs();
  bool IsServed(const ScanJob* job) const;
  Connection* ConnectionOf(const ScanJob* job) const;
  void LendBatches();
  // Takes back a lent batch buffer and lets the next waiting connection read.
  void GiveBackBatch(std::unique_ptr<uint8_t[]>& batch);
  void FinishDeferredDocuments(ScanJob& job);
  void PeerGone(Connection& connection);
  void OnIdleTick();
  void StartFailure();
  bool Listen(Listener& listener, uint16_t role, uint16_t port);
  bool StartListeners();

  ScanServer& owner;
  EventLoop& loop;
  const ReceiverEvents& hooks;
  ListenPorts ports;
  Listener jobListener{*this};
  Listener directListener{*this};
  std::unique_ptr<Connection> slots[kConnectionSlots];
  // The read buffers lent to connections that receive page data; a fixed
  // few for the whole server, so a crowd costs no more memory than one.
  std::vector<std::unique_ptr<uint8_t[]>> spareBatches;
  int nextBatchWaiter = 0;  // where the search for a waiting connection starts
  WorkerPool workers;
  EventLoop::TimerId startTimer = 0;
  EventLoop::TimerId idleTimer = 0;
  int32_t jobCount = 0;
  bool anyClosing = false;       // some job is marked for closing
  unsigned maxConnections = 30;  // read once when the server starts
  int maxPerAddress = 4;         // likewise; 0: no limit
  char localHostName[33] = "";
  // Asks the neighbour table about printers it does not know yet, off the
  // loop. Last, so that it ends first: no answer comes for a gone table.
  NeighbourResolver resolver;
};

}  // namespace qb
