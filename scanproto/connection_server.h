// The TCP side of the scan protocol: the job listener (37100) and the
// direct listener (37101), admission, the greeting, length-framed packets,
// framed replies, idle time-out and the table of open connections. Runs on
// the main thread only, driven by socket notification of the event loop.
#pragma once

#include <cstdint>
#include <functional>

#include "nameservice/name_datagram.h"
#include "platform/env.h"
#include "platform/event_loop.h"
#include "scanproto/scan_job.h"

namespace qb {

constexpr int kConnectionSlots = 110;
constexpr uint64_t kDiskFloorBytes = 10240000;  // below this a printer is refused
constexpr uint32_t kIdleLimitSeconds = 240;

// What the server tells the rest of the program. Unset members do nothing.
// All are called on the loop's thread.
struct ScanServerHooks {
  // A connection was opened / has ended (the connection count changed).
  std::function<void()> connectionOpened;
  std::function<void()> connectionClosed;
  // The listeners could not be started.
  std::function<void()> startFailed;
  // The disk state for the tray: 1 or 2 a document arrived, 3 the disk is full.
  std::function<void(int state)> trayState;
  // Announce a new file (when no "document has arrived" signal is set up).
  std::function<void()> newFileNotice;
  // Status notification to the configuration program.
  std::function<void(uint32_t message, int64_t value)> notifyConfig;
  // The user's "a document has arrived" signal.
  std::function<void()> receiveEndSignal;
  // Told once the listeners and the name service run.
  std::function<void()> startNameService;
  // Service mode: the name service writes its host table at each new
  // printer, not only at exit (a service may be ended without one).
  bool serviceMode = false;
  // Runs the slow steps of a document (`work`), then `done` on the loop's
  // thread. Unset: `work` runs on a pool thread. Tests that want every step
  // within the handling of one packet run both at once; the job is held
  // (see RunDocumentWork) either way.
  std::function<void(std::function<void()> work, std::function<void()> done)> runDocumentWork;
};

// The hooks given at start (empty ones when the server is not running).
const ScanServerHooks& ServerHooks();
// The environment of the running server (the real one when none runs).
Env& ServerEnv();

// The ports the two listeners bind. The program always uses the fixed
// ones; in-process tests pass 0 (any free port, see BoundPort) so that they
// can run side by side. A connection's `listenPort` is always kJobPort or
// kDirectPort: it names the listener's role, whatever port it bound.
constexpr int kNoNameService = -1;
struct ListenPorts {
  uint16_t job = kJobPort;
  uint16_t direct = kDirectPort;
  // The name service's UDP port (0: any free port). kNoNameService leaves
  // it closed: tests of the scan protocol alone must not take the fixed
  // port from a receiver running beside them.
  int nameService = kNameServicePort;
};

// Starts the listeners on `loop` (whose Env the server uses throughout).
// On failure `startFailed` is called and the result is false. With
// `listen` false no port is opened: connections then come only through
// AdoptConnection.
bool StartCommunication(EventLoop& loop, ScanServerHooks hooks, bool listen = true,
                        ListenPorts ports = ListenPorts{});
// The port the listener of `role` (kJobPort or kDirectPort) is bound to; 0
// when it is not listening.
uint16_t BoundPort(uint16_t role);
// Closes every connection, both listeners and the name service (which
// saves its host table).
void StopCommunication();
// Serves `socket`, a connected stream socket of any family, as a connection
// that the listener of `listenPort` (kJobPort or kDirectPort) has just
// accepted from `peerAddress` (IPv4, host order): access lock, admission and
// greeting go as after accept(). The socket is made non-blocking and belongs
// to the server from then on. For in-process drivers such as the fuzz
// targets, which hand over one end of a socket pair; without a running
// server the socket is closed.
void AdoptConnection(int socket, uint16_t listenPort, uint32_t peerAddress);
// Sends the reply in job.txBuffer (body at offset 2, txLength set) on the
// job's socket; a partly sent reply goes on at the next writable event. A
// failed send closes the job.
void SendPacket(ScanJob& job);
// A `runDocumentWork` hook for tests and in-process drivers: every step
// within the handling of the packet that starts it, in order.
void RunDocumentWorkInline(std::function<void()> work, std::function<void()> done);
// Runs the slow steps of one of the job's documents (conversion, the
// user's extension library, waiting for the disk) away from the event
// loop, then `done` on the loop. Until `done` has run the job is held:
// nothing more is read from its printer (what it sends waits in the
// kernel, so the order it sees is kept), it does not time out, and a close
// waits. `done` may start further work.
void RunDocumentWork(ScanJob& job, std::function<void()> work, std::function<void()> done);
// How many printers are sending raw page data now (their jobs between an
// image header of the raw road and its page end).
size_t JobsReceivingRawData();
// Marks the job's connection for closing: it sends nothing more and is
// ended once the event that is being handled has been handled, so a
// handler never finds its job gone.
void CloseJob(ScanJob& job);

ScanJob* FindJob(int socket);
ScanJob* FirstJob();
// The job after `job` in slot order; null when `job` is no longer in the table.
ScanJob* NextJob(const ScanJob* job);

// Bytes of a packet the job's connection has begun but not yet finished
// receiving; 0 between packets (tests wait for that).
size_t PacketBytesPending(const ScanJob& job);

// Open job-port connections (refused ones included).
int JobCount();
// The host name up to the first ".", at most 32 characters.
const char* LocalHostName();

}  // namespace qb
