// The TCP side of the scan protocol: the job listener (37100) and the
// direct listener (37101), admission, the greeting, length-framed packets,
// framed replies, idle time-out and the table of open connections. Runs on
// the thread of its event loop only, driven by that loop's socket
// notifications. The program has one (app/ owns it); tests, fuzz drivers
// and benchmarks make their own, side by side if they like.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/env.h"
#include "platform/event_loop.h"
#include "scanproto/job_context.h"
#include "scanproto/scan_job.h"
#include "storage/delivery.h"
#include "storage/receiver_events.h"

namespace qb {

constexpr int kConnectionSlots = 110;
constexpr uint64_t kDiskFloorBytes = 10240000;  // below this a printer is refused
constexpr uint32_t kIdleLimitSeconds = 240;

// The ports the two listeners bind. The program always uses the fixed
// ones; in-process tests pass 0 (any free port, see BoundPort) so that they
// can run side by side. A connection's `listenPort` is always kJobPort or
// kDirectPort: it names the listener's role, whatever port it bound.
struct ListenPorts {
  uint16_t job = kJobPort;
  uint16_t direct = kDirectPort;
};

// Runs the slow steps of a document (`work`), then `done` on the loop's
// thread. Empty: `work` runs on a pool thread. Tests that want every step
// within the handling of one packet run both at once (RunDocumentWorkInline);
// the job is held (see JobContext::RunDocumentWork) either way.
using DocumentWorkRunner = std::function<void(std::function<void()> work, std::function<void()> done)>;

// A DocumentWorkRunner for tests and in-process drivers: every step within
// the handling of the packet that starts it, in order.
inline void RunDocumentWorkInline(std::function<void()> work, std::function<void()> done) {
  work();
  done();
}

class ScanServer final : public JobContext {
 public:
  // `loop` and `env` must outlive the server; nothing starts before Start.
  // The program's events are called on the loop's thread.
  ScanServer(EventLoop& loop, Env& env, ReceiverEvents events, DocumentWorkRunner runDocumentWork);
  // Stops it.
  ~ScanServer();
  ScanServer(const ScanServer&) = delete;
  ScanServer& operator=(const ScanServer&) = delete;

  // Starts the listeners (stopping a running server first). On failure
  // `startFailed` is called and the result is false. With `listen` false no
  // port is opened: connections then come only through AdoptConnection.
  bool Start(bool listen = true, ListenPorts ports = ListenPorts{});
  // Closes every connection and both listeners.
  void Stop();
  bool running() const { return running_ != nullptr; }

  // The port the listener of `role` (kJobPort or kDirectPort) is bound to;
  // 0 when it is not listening.
  uint16_t BoundPort(uint16_t role) const;
  // Serves `socket`, a connected stream socket of any family, as a
  // connection that the listener of `listenPort` (kJobPort or kDirectPort)
  // has just accepted from `peerAddress` (IPv4, host order): access lock,
  // admission and greeting go as after accept(). The socket is made
  // non-blocking and belongs to the server from then on. For in-process
  // drivers such as the fuzz targets, which hand over one end of a socket
  // pair; a server that is not running closes the socket.
  void AdoptConnection(int socket, uint16_t listenPort, uint32_t peerAddress);

  ScanJob* FindJob(int socket) const;
  ScanJob* FirstJob() const;
  // The job after `job` in slot order; null when `job` is no longer in the table.
  ScanJob* NextJob(const ScanJob* job) const;
  // Bytes of a packet the job's connection has begun but not yet finished
  // receiving; 0 between packets (tests wait for that).
  size_t PacketBytesPending(const ScanJob& job) const;
  // Open job-port connections (refused ones included).
  int JobCount() const;
  // The host name up to the first ".", at most 32 characters; "" before
  // the listeners have started.
  const char* LocalHostName() const;

  // What the handlers of its jobs use (see JobContext).
  Env& env() override { return env_; }
  const ReceiverEvents& hooks() const override { return hooks_; }
  const DocumentDelivery& delivery() const override { return delivery_; }
  void SendPacket(ScanJob& job) override;
  void RunDocumentWork(ScanJob& job, std::function<void()> work,
                       std::function<void()> done) override;
  void CloseJob(ScanJob& job) override;
  size_t JobsReceivingRawData() const override;

 private:
  struct Running;  // listeners, connection table and workers of a started server

  EventLoop& loop_;
  Env& env_;
  ReceiverEvents hooks_;
  DocumentWorkRunner run_document_work_;
  DocumentDelivery delivery_;
  // Shared only so that a completion posted to the loop can tell whether
  // the server it belongs to still runs (it holds a weak reference).
  std::shared_ptr<Running> running_;
};

}  // namespace qb
