#include "scanproto/scan_server.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "config/folders.h"
#include "config/scanner_list.h"
#include "config/settings.h"
#include "nameservice/host_table.h"
#include "platform/neighbours.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "platform/worker_pool.h"
#include "scanproto/access_lock.h"
#include "scanproto/dispatcher.h"
#include "scanproto/peer_class.h"
#include "scanproto/reception_support.h"
#include "scanproto/server_running.h"
#include "scanproto/stored_document.h"
#include "storage/disk_space.h"
#include "storage/document_files.h"

namespace qb {
namespace {

// Room for a printer's page data in the kernel: with less, a sender that
// outruns us stalls on the window, and each read takes fewer packets.
// Kernel memory, used only while data wait: 110 printers at most ~56 MB.
constexpr int kReceiveBufferBytes = 262144;
constexpr uint32_t kConnectionEvents = kEventReadable | kEventWritable | kEventPeerClosed;
constexpr uint32_t kIdleTickMs = 1000;
constexpr uint32_t kStartDelayMs = 10;
// A listener whose accept failed for want of descriptors or memory rests
// this long: the waiting connection keeps it readable, and accepting again
// at once would spin a core until something is freed.
constexpr uint32_t kAcceptBackOffMs = 50;
// How long stopping waits for document work that is still running.
constexpr int kStopGraceMs = 500;

template <typename Hook, typename... Args>
void Tell(const Hook& hook, Args... args) {
  if (hook) hook(args...);
}

void CopyCut(char* target, size_t size, const char* text) {
  size_t length = std::strlen(text);
  if (length > size - 1) length = size - 1;
  std::memcpy(target, text, length);
  target[length] = '\0';
}

bool IsResourceShortage(int error) { return error == kWsaEMFile || error == kWsaENoBufs; }

}  // namespace

// Whether `address` holds its share of connections on the listener of
// `port` already. Deliberately added: without it one client holding idle
// connections (greeted, sending nothing) would take every job for minutes.
bool ScanServer::Running::AddressAtItsLimit(uint32_t address, uint16_t port) const {
  if (maxPerAddress <= 0) return false;
  int held = 0;
  for (const std::unique_ptr<Connection>& slot : slots) {
    if (slot && slot->job->listenPort == port && slot->job->peerAddress.address == address &&
        slot->job->state != kStateAddressLimit) {
      ++held;
    }
  }
  return held >= maxPerAddress;
}

// Takes a free slot for the socket and makes its job: admission by free
// disk space, the address's share and job count. Null when no slot or no memory is left (the
// socket is closed then).
ScanServer::Running::Connection* ScanServer::Running::CreateConnection(LoopSocket socket,
                                                                       const Ipv4Peer& peer,
                                                                       uint16_t port) {
  int index = 0;
  while (index < kConnectionSlots && slots[index]) ++index;
  if (index == kConnectionSlots) return nullptr;

  auto connection = std::unique_ptr<Connection>(new (std::nothrow) Connection(*this, -1));
  ScanJob* job = new (std::nothrow) ScanJob(owner.env_);
  if (connection == nullptr || job == nullptr) {
    delete job;
    return nullptr;
  }
  connection->job.reset(job);
  job->peerAddress = peer;
  connection->socket = std::move(socket);
  job->Clear();
  job->socket = connection->socket.fd();
  job->link = &connection->socket;
  job->context = &owner;
  job->listenPort = port;

  if (GetFreeBytes(ConfFolder(), owner.env_) < kDiskFloorBytes) {
    job->state = kStateDiskFull;
    Tell(hooks.trayState, 3);
  } else if (AddressAtItsLimit(peer.address, port)) {
    TraceLog(" Connections per address reached: %s", DottedAddress(peer.address).c_str());
    job->state = kStateAddressLimit;
  } else {
    TraceLog(" Job Num=%d", jobCount);
    job->state =
        static_cast<unsigned>(jobCount) >= maxConnections ? kStateJobLimit : kStateAdmitted;
  }

  CopyCut(job->peerIp, sizeof job->peerIp, DottedAddress(peer.address).c_str());
  char name[260];
  if (!LookupHostName(job->peerIp, name, sizeof name)) name[0] = '\0';
  CopyCut(job->peerName, sizeof job->peerName, name);

  TraceLog(" Sock Port=%d", port);
  // One refused for its address takes no job: it is gone after its greeting.
  if (port == kJobPort && job->state != kStateAddressLimit) ++jobCount;
  slots[index] = std::move(connection);
  return slots[index].get();
}

// Everything after accept(): access lock, watching, admission, greeting.
void ScanServer::Running::ServeAccepted(LoopSocket socket, const Ipv4Peer& peer, uint16_t port) {
  std::string dotted = DottedAddress(peer.address);
  if (IsLocked(dotted.c_str(), owner.env_.WallSeconds())) {
    socket.Close();
    TraceLog(" Access locked client:%s\n", dotted.c_str());
    return;
  }
  SetReceiveBufferSize(socket.fd(), kReceiveBufferBytes);
  TraceLog("Connection accepted on socket %d from: %s", socket.fd(), dotted.c_str());

  Connection* connection = CreateConnection(std::move(socket), peer, port);
  if (connection == nullptr) return;  // the socket closed with its handle
  connection->socket.Watch(connection, kConnectionEvents);
  ScanJob& job = *connection->job;
  AddScannerEntry(job.peerIp, job.peerName, job.socket);
  Tell(hooks.connectionOpened);
  ClassifyBeforeReading(job);
}

// The printer's class decides what it may send. When only asking the
// neighbour can tell (an on-link printer the kernel does not know yet, up
// to a second), the resolver asks off the loop and the connection is not
// read until the answer is in: every other printer is served meanwhile.
void ScanServer::Running::ClassifyBeforeReading(ScanJob& job) {
  int peerClass = 0;
  std::weak_ptr<Running> self = owner.running_;
  ScanJob* target = &job;
  EventLoop* onLoop = &loop;
  auto answered = [self, target, onLoop](int found) {
    onLoop->Post([self, target, found] {
      const std::shared_ptr<Running> running = self.lock();
      if (!running || !running->IsServed(target)) return;
      target->peerClass = found;
      if (!target->held && target->link != nullptr) target->link->PauseReading(false);
    });
  };
  if (ClassifyPeerOrResolve(owner.env_, resolver, job.peerIp, &peerClass, std::move(answered))) {
    job.peerClass = peerClass;
  } else if (job.link != nullptr) {
    job.link->PauseReading(true);
  }
}

// Ends a connection now: scanner list, socket, unfinished files, the
// record itself, and the program told.
void ScanServer::Running::EndConnection(std::unique_ptr<Connection>& slot) {
  ScanJob& job = *slot->job;
  TraceLog("Connection closed on socket %d from: %s", job.socket, job.peerIp);
  RemoveScannerEntry(job.peerIp, job.peerName, job.socket);
  slot->socket.Close();
  DiscardDocumentFiles(job.document);  // no temporary page or half-written file outlives its job
  if (slot->batch) GiveBackBatch(slot->batch);
  if (job.listenPort == kJobPort && job.state != kStateAddressLimit && jobCount > 0) {
    --jobCount;
  }
  slot.reset();
  Tell(hooks.connectionClosed);
}

// Called when an event has been handled: the connections whose close was
// asked for meanwhile end now.
void ScanServer::Running::EndClosingJobs() {
  if (!anyClosing) return;
  anyClosing = false;
  for (std::unique_ptr<Connection>& slot : slots) {
    if (!slot || !slot->job->closing) continue;
    if (slot->job->held) {
      anyClosing = true;  // ends when its document work is done
    } else {
      EndConnection(slot);
    }
  }
}

bool ScanServer::Running::IsServed(const ScanJob* job) const { return ConnectionOf(job) != nullptr; }

ScanServer::Running::Connection* ScanServer::Running::ConnectionOf(const ScanJob* job) const {
  for (const std::unique_ptr<Connection>& slot : slots) {
    if (slot && slot->job.get() == job) return slot.get();
  }
  return nullptr;
}

void ScanServer::Running::Listener::OnAcceptable() {
  Ipv4Peer peer;
  int fd = socket.Accept(&peer);
  if (fd < 0) {
    const int error = LastSocketError();
    if (!IsResourceShortage(error)) {
      TraceLog(" accept() error:%d", error);
      return;
    }
    if (!inBurst)
      TraceLog(" accept() error:%d, waiting %u ms between tries", error, kAcceptBackOffMs);
    inBurst = true;
    BackOff();
    return;
  }
  inBurst = false;
  server.ServeAccepted(LoopSocket(server.loop, fd), peer, role);
  server.EndClosingJobs();
}

void ScanServer::Running::Listener::BackOff() {
  socket.Watch(this, 0);
  backOffTimer = server.loop.AddTimer(kAcceptBackOffMs, [this] {
    CancelBackOff();
    if (socket.IsOpen()) socket.Watch(this, kEventAcceptable);
  });
}

void ScanServer::Running::Listener::CancelBackOff() {
  if (backOffTimer == 0) return;
  server.loop.CancelTimer(backOffTimer);
  backOffTimer = 0;
}

void ScanServer::Running::Connection::OnWritable() {
  ScanJob& j = *job;
  if (j.state == kStateGreeted) {
    server.owner.SendPacket(j);
    server.EndClosingJobs();
    return;
  }
  static const uint8_t kGreetings[4][4] = {{'O', 'K', 0x00, 0x05},
                                           {'O', 'K', 0x00, 0x05},
                                           {'N', 'G', 0x00, 0x15},
                                           {'N', 'G', 0x00, 0x01}};
  const bool jobRefused = j.state == kStateJobLimit || j.state == kStateAddressLimit;
  const uint8_t* greeting = kGreetings[jobRefused ? 2 : j.state == kStateDiskFull ? 3 : 0];
  const bool sent = socket.Send(greeting, 4) >= 0;
  if (!sent && LastSocketError() == kWsaEWouldBlock) {
    TraceLog("  Snd: WSAEWOULDBLOCK");
    return;
  }
  if (!sent) socket.Shutdown(kShutSend);
  if (sent && j.state == kStateAdmitted) j.state = kStateGreeted;
  if (j.state == kStateAddressLimit) {
    // Deliberately closed at once: kept open it would hold a slot that
    // another printer may need.
    server.owner.CloseJob(j);
    server.EndClosingJobs();
  }
}


// A job whose documents are logged and announced when the printer hangs
// up: done now, at a disconnect or when the receiver stops.
void ScanServer::Running::FinishDeferredDocuments(ScanJob& job) {
  if (job.deferredNotify && job.notifyPending) {
    owner.delivery().Log(StoredDocumentOf(job), false);
    owner.delivery().Announce();
    job.notifyPending = false;
    job.document.pageCount = 0;
    job.document.outputPath[0] = '\0';
  }
}

// The printer has gone (or has been silent too long).
void ScanServer::Running::PeerGone(Connection& connection) {
  Drain(connection.socket, 2047);
  FinishDeferredDocuments(*connection.job);
  owner.CloseJob(*connection.job);
}

void ScanServer::Running::Connection::OnPeerClosed() {
  if (job->held) return;  // as for reading
  server.PeerGone(*this);
  server.EndClosingJobs();
}

void ScanServer::Running::OnIdleTick() {
  for (std::unique_ptr<Connection>& slot : slots) {
    if (!slot || slot->job->closing || slot->job->held) continue;
    if (++slot->idleSeconds > kIdleLimitSeconds) {
      TraceLog(" TVS_CON_TIME_OUT");
      PeerGone(*slot);
    }
  }
  EndClosingJobs();
}

void ScanServer::Running::StartFailure() {
  jobListener.socket.Close();
  directListener.socket.Close();
  Tell(hooks.startFailed);
}

bool ScanServer::Running::Listen(Listener& listener, uint16_t role, uint16_t port) {
  int fd = TcpListen(port, MaxListenBacklog());
  if (fd < 0) {
    TraceLog(" listen on port %d failed:%d", role, LastSocketError());
    StartFailure();
    return false;
  }
  listener.role = role;
  listener.socket = LoopSocket(loop, fd);
  listener.socket.Watch(&listener, kEventAcceptable);
  return true;
}

bool ScanServer::Running::StartListeners() {
  std::string host = LocalHostNameText();
  if (host.empty()) {
    StartFailure();
    return false;
  }
  host = host.substr(0, host.find('.'));
  CopyCut(localHostName, sizeof localHostName, host.c_str());
  TraceLog("接続を待機しています");

  if (!Listen(jobListener, kJobPort, ports.job)) return false;
  if (!Listen(directListener, kDirectPort, ports.direct)) return false;

  std::string fullHost = LocalHostNameText();
  TraceLog("Server Started: %s[%s] on port %d", fullHost.c_str(),
           FirstAddressOfHost(fullHost).c_str(), kJobPort);
  return true;
}

ScanServer::ScanServer(EventLoop& loop, Env& env, ReceiverEvents events,
                       DocumentWorkRunner runDocumentWork)
    : loop_(loop), env_(env), hooks_(std::move(events)), run_document_work_(std::move(runDocumentWork)),
      delivery_(env_, hooks_) {}

ScanServer::~ScanServer() { Stop(); }

bool ScanServer::Start(bool listen, ListenPorts ports) {
  Stop();
  running_ = std::make_shared<Running>(*this);
  // A `startFailed` hook may stop the server; what is started here stays
  // alive until this call is done with it.
  const std::shared_ptr<Running> running = running_;
  running->ports = ports;
  running->maxConnections = static_cast<unsigned>(GetMaxConnectNum());
  running->maxPerAddress = GetMaxConnectPerAddress();
  running->LendBatches();
  // The idle check starts a moment after the listeners, once the loop runs.
  Running* state = running.get();
  running->startTimer = loop_.AddTimer(kStartDelayMs, [state] {
    state->loop.CancelTimer(state->startTimer);
    state->idleTimer = state->loop.AddTimer(kIdleTickMs, [state] { state->OnIdleTick(); });
    TraceLog(" Timer Start");
  });
  if (!listen) return true;
  // What a receiver that crashed was still writing never shows up as a scan.
  RemoveAbandonedStagingFilesInDestinations(env_);
  return running->StartListeners();
}

void ScanServer::Stop() {
  if (!running_) return;
  Running& running = *running_;
  // Document work that finishes soon is let finish (its files are in place
  // before it ends); work stuck in a library keeps its job, which is then
  // left alone rather than freed under it.
  const bool workDone = running.workers.WaitIdle(kStopGraceMs);
  for (std::unique_ptr<Running::Connection>& slot : running.slots) {
    if (!slot) continue;
    if (slot->job->held && !workDone) {
      TraceLog(" Stop: document work of socket %d still running", slot->job->socket);
      slot->socket.Close();
      (void)slot.release();
      continue;
    }
    slot->job->held = false;
    running.FinishDeferredDocuments(*slot->job);
    running.EndConnection(slot);
  }
  for (Running::Listener* listener : {&running.jobListener, &running.directListener}) {
    listener->CancelBackOff();
    listener->socket.Close();
  }
  loop_.CancelTimer(running.startTimer);
  loop_.CancelTimer(running.idleTimer);
  running_.reset();
}

void ScanServer::AdoptConnection(int socket, uint16_t listenPort, uint32_t peerAddress) {
  if (!running_) {
    SockClose(socket);
    return;
  }
  SetBlocking(socket, false);
  Ipv4Peer peer;
  peer.address = peerAddress;
  running_->ServeAccepted(LoopSocket(loop_, socket), peer, listenPort);
}

uint16_t ScanServer::BoundPort(uint16_t role) const {
  if (!running_) return 0;
  const Running::Listener& listener =
      role == kJobPort ? running_->jobListener : running_->directListener;
  return listener.socket.IsOpen() ? LocalPort(listener.socket.fd()) : 0;
}

void ScanServer::SendPacket(ScanJob& job) {
  if (job.closing || job.link == nullptr) return;  // an earlier reply failed: nothing more goes out
  uint32_t total = job.txLength + 2u;
  if (job.txCount >= total) {
    // A new reply was written over one that had not gone out completely
    // (only a peer that sends before it reads does that): start afresh
    // rather than send from beyond the new reply's end.
    job.txCount = 0;
  }
  if (job.txCount == 0) {
    job.txBuffer[0] = static_cast<uint8_t>(job.txLength >> 8);
    job.txBuffer[1] = static_cast<uint8_t>(job.txLength);
  } else {
    TraceLog(" Resend");
  }
  // The kernel may take part of a reply without saying "would block"; only
  // a send that would block announces the next writable event, so keep
  // sending until the reply is out or the socket is full.
  while (job.txCount < total) {
    uint32_t requested = total - job.txCount;
    long sent = job.link->Send(job.txBuffer + job.txCount, requested);
    if (sent < 0) {
      if (LastSocketError() != kWsaEWouldBlock) {
        CloseJob(job);
        TraceLog(" DataSend Error");
        return;
      }
      TraceLog(" Data Send Would Block");
      return;  // the next writable event goes on from txCount
    }
    TraceLog(" Data Send to %d(Req/Result)(%ld/%ld)", job.socket, static_cast<long>(requested),
             sent);
    job.txCount += static_cast<uint32_t>(sent);
    if (sent == 0) return;
  }
  job.txState = 2;
  job.txCount = 0;
  TraceLog(" DataSend OK(%d)", job.socket);
}

void ScanServer::RunDocumentWork(ScanJob& job, std::function<void()> work,
                                 std::function<void()> done) {
  if (!running_ || job.link == nullptr) {  // a job outside the table
    work();
    done();
    return;
  }
  job.held = true;
  job.link->PauseReading(true);
  ScanJob* target = &job;
  // Runs `done` unless this server has stopped or ended the job meanwhile,
  // and lets the printer be heard again unless `done` started more work.
  std::weak_ptr<Running> server = running_;
  auto finish = [server, target, done = std::move(done)] {
    const std::shared_ptr<Running> running = server.lock();
    if (!running || !running->IsServed(target)) return false;
    target->held = false;
    done();
    if (target->held) return false;
    target->link->PauseReading(false);
    if (Running::Connection* connection = running->ConnectionOf(target)) connection->ResumeBatch();
    return true;
  };
  if (run_document_work_) {
    // The handler that started the work ends the closing jobs when it returns.
    run_document_work_(std::move(work), [finish = std::move(finish)] { finish(); });
    return;
  }
  running_->workers.Run(loop_, std::move(work), [server, finish = std::move(finish)] {
    if (!finish()) return;
    if (const std::shared_ptr<Running> running = server.lock()) running->EndClosingJobs();
  });
}

void ScanServer::CloseJob(ScanJob& job) {
  if (job.closing) return;
  job.closing = true;
  if (running_) running_->anyClosing = true;
}

ScanJob* ScanServer::FindJob(int socket) const {
  if (!running_) return nullptr;
  for (const std::unique_ptr<Running::Connection>& slot : running_->slots) {
    if (slot && slot->job->socket == socket) return slot->job.get();
  }
  return nullptr;
}

ScanJob* ScanServer::FirstJob() const {
  if (!running_) return nullptr;
  for (const std::unique_ptr<Running::Connection>& slot : running_->slots) {
    if (slot) return slot->job.get();
  }
  return nullptr;
}

ScanJob* ScanServer::NextJob(const ScanJob* job) const {
  if (!running_) return nullptr;
  const auto& slots = running_->slots;
  int index = 0;
  while (index < kConnectionSlots && !(slots[index] && slots[index]->job.get() == job)) ++index;
  for (++index; index < kConnectionSlots; ++index) {
    if (slots[index]) return slots[index]->job.get();
  }
  return nullptr;
}

size_t ScanServer::PacketBytesPending(const ScanJob& job) const {
  if (!running_) return 0;
  const Running::Connection* connection = running_->ConnectionOf(&job);
  return connection ? connection->PendingBytes() : 0;
}

int ScanServer::JobCount() const { return running_ ? running_->jobCount : 0; }

const char* ScanServer::LocalHostName() const { return running_ ? running_->localHostName : ""; }

size_t ScanServer::JobsReceivingRawData() const {
  if (!running_) return 0;
  size_t count = 0;
  for (const std::unique_ptr<Running::Connection>& slot : running_->slots) {
    if (slot && slot->job->imageDataMode &&
        slot->job->document.imageHeader.dataForm == kDataFormRaw) {
      ++count;
    }
  }
  return count;
}

}  // namespace qb
