#include "scanproto/connection_server.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "config/folders.h"
#include "config/scanner_list.h"
#include "config/settings.h"
#include "nameservice/host_table.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "scanproto/access_lock.h"
#include "scanproto/dispatcher.h"
#include "scanproto/reception_support.h"
#include "scanproto/stored_document.h"
#include "storage/disk_space.h"
#include "storage/document_files.h"

namespace qb {
namespace {

constexpr uint32_t kListenerDirectMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
constexpr uint32_t kConnectionMask = FD_READ | FD_WRITE | FD_CLOSE;
constexpr int kReceiveBufferBytes = 65536;
constexpr uint64_t kHideTimer = 1;

class CommunicationWindow final : public Window {
 public:
  int64_t HandleMessage(uint32_t message, uint64_t wParam, int64_t lParam) override;

 private:
  int64_t Dispatch(uint32_t message, uint64_t wParam, int64_t lParam);
};

struct Slot {
  int32_t inUse = 0;
  ScanJob* job = nullptr;
};

struct Server {
  EventLoop* loop = nullptr;
  Window* mainWindow = nullptr;
  CommunicationWindow window;
  ScanServerHooks hooks;
  bool started = false;
  ListenPorts ports;
  int jobListener = -1;
  int directListener = -1;
  Slot slots[kConnectionSlots];
  int32_t jobCount = 0;
  // Connections whose close was asked for while a handler ran (a failed
  // reply, a peer gone, an idle time-out): they are closed when the
  // outermost message handling returns, never under a handler's feet.
  std::vector<ScanJob*> closing;
  int handlerDepth = 0;
  unsigned maxConnections = 30;  // read once when the server starts
  char localHostName[33] = "";
};

Server* g_server = nullptr;

void SendToMain(uint32_t message, uint64_t wParam, int64_t lParam) {
  if (g_server->mainWindow != nullptr) {
    g_server->loop->SendMessage(g_server->mainWindow, message, wParam, lParam);
  }
}

const ScanServerHooks kNoHooks;

uint64_t FreeBytesOf(const char* folder) {
  if (g_server->hooks.freeBytes) return g_server->hooks.freeBytes(folder);
  return GetFreeBytes(folder);
}

void CopyCut(char* target, size_t size, const char* text) {
  size_t length = std::strlen(text);
  if (length > size - 1) length = size - 1;
  std::memcpy(target, text, length);
  target[length] = '\0';
}

// Reads and throws away what is pending, in chunks of `chunk` bytes.
void Drain(int socket, size_t chunk) {
  char scrap[2048];
  if (chunk > sizeof scrap) chunk = sizeof scrap;
  while (SockRecv(socket, scrap, chunk) > 0) {
  }
}

void FreeJob(ScanJob* job) {
  delete job->peerAddress;
  delete[] job->txBuffer;
  delete[] job->lineBuf;
  delete[] job->metaData;
  delete job;
}

ScanJob* CreateJob(int socket, const Ipv4Peer& peer, uint16_t port) {
  int index = 0;
  while (index < kConnectionSlots && g_server->slots[index].inUse == 1) ++index;
  if (index == kConnectionSlots) return nullptr;

  ScanJob* job = new (std::nothrow) ScanJob;
  if (job == nullptr) return nullptr;
  job->peerAddress = new (std::nothrow) Ipv4Peer(peer);
  job->txBuffer = new (std::nothrow) uint8_t[kTxBufferSize];
  job->lineBuf = new (std::nothrow) uint8_t[kLineBufSize];
  if (job->peerAddress == nullptr || job->txBuffer == nullptr || job->lineBuf == nullptr) {
    FreeJob(job);
    return nullptr;
  }
  g_server->slots[index] = Slot{1, job};

  job->ClearJobFields();
  job->socket = socket;
  job->listenPort = port;

  if (FreeBytesOf(ConfFolder().c_str()) < kDiskFloorBytes) {
    job->state = kStateDiskFull;
    SendToMain(WM_COMMAND, kCmdTrayState, 3);
  } else {
    TraceLog(" Job Num=%d", g_server->jobCount);
    job->state = static_cast<unsigned>(g_server->jobCount) >= g_server->maxConnections
                     ? kStateJobLimit
                     : kStateAdmitted;
  }

  CopyCut(job->peerIp, sizeof job->peerIp, DottedAddress(peer.address).c_str());
  char name[260];
  if (!LookupHostName(job->peerIp, name, sizeof name)) name[0] = '\0';
  CopyCut(job->peerName, sizeof job->peerName, name);

  TraceLog(" Sock Port=%d", port);
  if (port == kJobPort) ++g_server->jobCount;
  return job;
}

// Everything after accept(): access lock, notification, admission.
void ServeAccepted(int socket, const Ipv4Peer& peer, uint16_t port) {
  std::string dotted = DottedAddress(peer.address);
  if (IsLocked(dotted.c_str())) {
    SockClose(socket);
    TraceLog(" Access locked client:%s\n", dotted.c_str());
    return;
  }
  g_server->loop->AsyncSelect(socket, &g_server->window, WM_SOCK_EVENT, kConnectionMask);
  SetReceiveBufferSize(socket, kReceiveBufferBytes);
  TraceLog("Connection accepted on socket %d from: %s", socket, dotted.c_str());

  ScanJob* job = CreateJob(socket, peer, port);
  if (job == nullptr) {
    SockClose(socket);
    return;
  }
  AddScannerEntry(job->peerIp, job->peerName, job->socket);
  SendToMain(IDC_CONNECT_OPEN, 0, 0);
}

void OnAccept(int listener, uint16_t port) {
  Ipv4Peer peer;
  int socket = TcpAccept(listener, &peer);
  if (socket < 0) {
    TraceLog(" accept() error:%d", LastSocketError());
    return;
  }
  ServeAccepted(socket, peer, port);
}

void OnWritable(int socket) {
  ScanJob* job = FindJob(socket);
  if (job == nullptr) {
    Drain(socket, 1023);
    SockClose(socket);
    return;
  }
  if (job->state == kStateGreeted) {
    SendPacket(*job);
    return;
  }
  static const uint8_t kGreetings[4][4] = {{'O', 'K', 0x00, 0x05},
                                           {'O', 'K', 0x00, 0x05},
                                           {'N', 'G', 0x00, 0x15},
                                           {'N', 'G', 0x00, 0x01}};
  const uint8_t* greeting = kGreetings[job->state == kStateJobLimit   ? 2
                                       : job->state == kStateDiskFull ? 3
                                                                      : 0];
  if (SockSend(socket, greeting, 4) < 0) {
    if (LastSocketError() == kWsaEWouldBlock) {
      TraceLog("  Snd: WSAEWOULDBLOCK");
    } else {
      SockShutdown(socket, kShutSend);
    }
    return;
  }
  if (job->state == kStateAdmitted) job->state = kStateGreeted;
}

// Receives into the job's buffer. Returns the byte count, or 0 when the
// caller must stop: nothing is there yet, or the connection has been shut
// down (after `onError` for a failure other than would-block).
template <typename OnError>
long ReceiveOrShutDown(int socket, uint8_t* target, size_t length, OnError onError) {
  long got = SockRecv(socket, target, length);
  if (got > 0) return got;
  if (got < 0 && LastSocketError() == kWsaEWouldBlock) return 0;
  if (got < 0) onError();
  SockShutdown(socket, kShutBoth);
  return 0;
}

void OnReadable(int socket) {
  ScanJob* job = FindJob(socket);
  if (job == nullptr) {
    TraceLog(" GetRequestListError");
    Drain(socket, 2047);
    SockClose(socket);
    return;
  }
  job->idleSeconds = 0;
  long got = 0;

  if (job->rxLength == 0) {
    if (job->rxLengthBytes == 0) job->rxWrite = job->rxBuffer + 2;
    got = ReceiveOrShutDown(socket, job->rxBuffer + job->rxLengthBytes, 2 - job->rxLengthBytes,
                            [] { TraceLog(" OnReadError 0"); });
    if (got == 0) return;
    job->rxLengthBytes = static_cast<uint8_t>(job->rxLengthBytes + got);
    if (job->rxLengthBytes < 2) return;  // the second byte follows
    job->rxLengthBytes = 0;

    uint16_t length = static_cast<uint16_t>(job->rxBuffer[0] << 8 | job->rxBuffer[1]);
    if (length == 0 || length == 2) {
      TraceLog("  Rcv:JCSock Packet(Length=%d)", length);
      return;
    }
    job->rxLength = length;
    if (length > kMaxRxBody) {
      TraceLog(" JcSockSize=%ld(%ld)", static_cast<long>(length), static_cast<long>(kMaxRxBody));
      SockShutdown(socket, kShutBoth);
      return;
    }
    got =
        ReceiveOrShutDown(socket, job->rxWrite, job->rxLength, [] { TraceLog(" OnReadError 2"); });
    if (got == 0) return;
  } else {
    if (job->rxLength > kMaxRxBody) {
      // An oversized packet shut the connection down; nothing more is kept.
      Drain(socket, 2047);
      return;
    }
    got = ReceiveOrShutDown(socket, job->rxWrite, job->rxLength - job->rxCount, [socket] {
      TraceLog(" OnReadError 3(%ld)", static_cast<long>(LastSocketError()));
      g_server->loop->AsyncSelect(socket, &g_server->window, WM_SOCK_EVENT, FD_CLOSE);
    });
    if (got == 0) return;
  }
  job->rxCount += static_cast<uint32_t>(got);
  job->rxWrite += got;

  if (job->rxCount == job->rxLength) {
    // Everything after the body reads as zero, as if the buffer had been
    // cleared before the packet.
    size_t end = 2 + job->rxCount;
    if (job->rxDirtyEnd > end) std::memset(job->rxBuffer + end, 0, job->rxDirtyEnd - end);
    job->rxDirtyEnd = static_cast<uint16_t>(end);
    DispatchPacket(*job, job->rxBuffer + 2, job->rxCount);
    if (job->closing) return;  // a reply failed: the connection ends after this event
    job->rxLength = 0;
    job->rxCount = 0;
  }
}

// A job whose documents are logged and announced when the printer hangs
// up: done now, at a disconnect or when the receiver stops.
void FinishDeferredDocuments(ScanJob& job) {
  if (job.deferredNotify == 1 && job.notifyPending == 1) {
    LogStoredDocument(job, true);
    if (g_server->hooks.notifyConfig) g_server->hooks.notifyConfig(WM_USER + 1, 3);
    if (GetReceive() && g_server->hooks.receiveEndSignal) g_server->hooks.receiveEndSignal();
    job.notifyPending = 0;
    job.pageCount = 0;
    job.outputPath[0] = '\0';
  }
}

void OnPeerClosed(int socket) {
  Drain(socket, 2047);
  ScanJob* job = FindJob(socket);
  if (job == nullptr) return;
  FinishDeferredDocuments(*job);
  CloseJob(*job);
}

// Ends a connection now: scanner list, socket, unfinished files, the
// record itself, and the main window told.
void EndJob(ScanJob& job) {
  TraceLog("Connection closed on socket %d from: %s", job.socket, job.peerIp);
  RemoveScannerEntry(job.peerIp, job.peerName, job.socket);
  SockClose(job.socket);

  DiscardJobFiles(job);  // no temporary page or half-written file outlives its job
  if (job.listenPort == kJobPort && g_server->jobCount > 0) --g_server->jobCount;
  for (Slot& slot : g_server->slots) {
    if (slot.inUse == 1 && slot.job == &job) slot = Slot{};
  }
  FreeJob(&job);
  SendToMain(IDC_CONNECT_CLOSE, 0, 0);
}

void OnIdleTick() {
  for (ScanJob* job = FirstJob(); job != nullptr; job = NextJob(job)) {
    if (job->closing) continue;
    if (++job->idleSeconds > kIdleLimitSeconds) {
      g_server->loop->SendMessage(&g_server->window, TVS_CON_TIME_OUT,
                                  static_cast<uint64_t>(job->socket), 0);
    }
  }
}

int CloseListener(int& socket) {
  if (socket >= 0) SockClose(socket);
  socket = -1;
  return 0;
}

void StartFailure() {
  CloseListener(g_server->jobListener);
  CloseListener(g_server->directListener);
  SendToMain(WM_COMMAND, kCmdServerStartFailed, 0);
}

bool StartScanServer() {
  std::string host = LocalHostNameText();
  if (host.empty()) {
    StartFailure();
    return false;
  }
  host = host.substr(0, host.find('.'));
  CopyCut(g_server->localHostName, sizeof g_server->localHostName, host.c_str());
  TraceLog("接続を待機しています");

  g_server->jobListener = TcpListen(g_server->ports.job, MaxListenBacklog());
  if (g_server->jobListener < 0) {
    TraceLog(" listen on port %d failed:%d", kJobPort, LastSocketError());
    StartFailure();
    return false;
  }
  g_server->loop->AsyncSelect(g_server->jobListener, &g_server->window, WM_SOCK_JOB_ACCEPT,
                              FD_ACCEPT);
  g_server->directListener = TcpListen(g_server->ports.direct, MaxListenBacklog());
  if (g_server->directListener < 0) {
    TraceLog(" listen on port %d failed:%d", kDirectPort, LastSocketError());
    StartFailure();
    return false;
  }
  g_server->loop->AsyncSelect(g_server->directListener, &g_server->window, WM_SOCK_DIRECT_ACCEPT,
                              kListenerDirectMask);

  std::string fullHost = LocalHostNameText();
  TraceLog("Server Started: %s[%s] on port %d", fullHost.c_str(),
           FirstAddressOfHost(fullHost).c_str(), kJobPort);
  return true;
}

void EndClosingJobs() {
  while (!g_server->closing.empty()) {
    ScanJob* job = g_server->closing.front();
    g_server->closing.erase(g_server->closing.begin());
    EndJob(*job);
  }
}

int64_t CommunicationWindow::HandleMessage(uint32_t message, uint64_t wParam, int64_t lParam) {
  ++g_server->handlerDepth;
  int64_t result = Dispatch(message, wParam, lParam);
  if (--g_server->handlerDepth == 0) EndClosingJobs();
  return result;
}

int64_t CommunicationWindow::Dispatch(uint32_t message, uint64_t wParam, int64_t lParam) {
  int socket = static_cast<int>(wParam);
  uint32_t event = static_cast<uint32_t>(lParam) & 0xFFFF;
  switch (message) {
    case WM_SOCK_JOB_ACCEPT:
      if (event == FD_ACCEPT) OnAccept(socket, kJobPort);
      return 0;
    case WM_SOCK_DIRECT_ACCEPT:
      if (event == FD_ACCEPT) OnAccept(socket, kDirectPort);
      return 0;
    case WM_SOCK_EVENT:
      if (event == FD_READ)
        OnReadable(socket);
      else if (event == FD_WRITE)
        OnWritable(socket);
      else if (event == FD_CLOSE)
        OnPeerClosed(socket);
      return 0;
    case WM_SEND_RESULT:
      if (wParam == 2) {
        ScanJob* job = reinterpret_cast<ScanJob*>(lParam);
        job->txCount = 0;
        TraceLog(" DataSend OK(%d)", job->socket);
      } else if (wParam == 3) {
        TraceLog(" DataSend Error");
      }
      return 0;
    case TVS_CON_TIME_OUT:
      TraceLog(" TVS_CON_TIME_OUT");
      OnPeerClosed(socket);
      return 0;
    case WM_TIMER:
      if (wParam == kHideTimer) {
        // The window is never shown; the first tick starts the idle check.
        g_server->loop->KillTimer(this, kHideTimer);
        g_server->loop->SetTimer(this, IDT_IDLE_CHECK, 1000);
        TraceLog(" Timer Start");
      } else if (wParam == IDT_IDLE_CHECK) {
        OnIdleTick();
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace

bool StartCommunication(EventLoop& loop, Window* mainWindow, ScanServerHooks hooks, bool listen,
                        ListenPorts ports) {
  if (g_server != nullptr) StopCommunication();
  g_server = new Server;
  g_server->ports = ports;
  g_server->loop = &loop;
  g_server->mainWindow = mainWindow;
  g_server->hooks = std::move(hooks);
  g_server->maxConnections = static_cast<unsigned>(GetMaxConnectNum());
  loop.SetTimer(&g_server->window, kHideTimer, 10);
  // What a receiver that crashed was still writing never shows up as a scan.
  if (listen) RemoveAbandonedStagingFilesInDestinations();
  if (listen && !StartScanServer()) return false;
  g_server->started = true;
  for (Slot& slot : g_server->slots) slot = Slot{};
  if (g_server->hooks.startNameService) g_server->hooks.startNameService(&g_server->window);
  return true;
}

void StopCommunication() {
  if (g_server == nullptr) return;
  for (ScanJob* job = FirstJob(); job != nullptr; job = FirstJob()) {
    FinishDeferredDocuments(*job);
    EndJob(*job);
  }
  g_server->closing.clear();
  CloseListener(g_server->jobListener);
  CloseListener(g_server->directListener);
  g_server->loop->RemoveWindow(&g_server->window);
  delete g_server;
  g_server = nullptr;
}

void AdoptConnection(int socket, uint16_t listenPort, uint32_t peerAddress) {
  if (g_server == nullptr) {
    SockClose(socket);
    return;
  }
  SetBlocking(socket, false);
  Ipv4Peer peer;
  peer.address = peerAddress;
  ServeAccepted(socket, peer, listenPort);
}

const ScanServerHooks& ServerHooks() { return g_server == nullptr ? kNoHooks : g_server->hooks; }

int64_t SendToMainWindow(uint32_t message, uint64_t wParam, int64_t lParam) {
  if (g_server == nullptr || g_server->mainWindow == nullptr) return 0;
  return g_server->loop->SendMessage(g_server->mainWindow, message, wParam, lParam);
}

uint16_t BoundPort(uint16_t role) {
  if (g_server == nullptr) return 0;
  const int listener = role == kJobPort ? g_server->jobListener : g_server->directListener;
  return listener < 0 ? 0 : LocalPort(listener);
}

Window* CommunicationWindow() { return g_server == nullptr ? nullptr : &g_server->window; }

void SendPacket(ScanJob& job) {
  if (job.closing) return;  // an earlier reply failed: nothing more goes out
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
  // a send that would block announces the next write event, so keep sending
  // until the reply is out or the socket is full.
  while (job.txCount < total) {
    uint32_t requested = total - job.txCount;
    long sent = SockSend(job.socket, job.txBuffer + job.txCount, requested);
    if (sent < 0) {
      if (LastSocketError() != kWsaEWouldBlock) {
        CloseJob(job);
        g_server->loop->SendMessage(&g_server->window, WM_SEND_RESULT, 3, 0);
        return;
      }
      TraceLog(" Data Send Would Block");
      return;  // the next write event goes on from txCount
    }
    TraceLog(" Data Send to %d(Req/Result)(%ld/%ld)", job.socket, static_cast<long>(requested),
             sent);
    job.txCount += static_cast<uint32_t>(sent);
    if (sent == 0) return;
  }
  job.txState = 2;
  g_server->loop->SendMessage(&g_server->window, WM_SEND_RESULT, 2,
                              reinterpret_cast<int64_t>(&job));
}

void CloseJob(ScanJob& job) {
  if (job.closing) return;
  job.closing = true;
  if (g_server->handlerDepth > 0) {
    g_server->closing.push_back(&job);
  } else {
    EndJob(job);
  }
}

ScanJob* FindJob(int socket) {
  if (g_server == nullptr) return nullptr;
  for (const Slot& slot : g_server->slots) {
    if (slot.inUse == 1 && slot.job->socket == socket) return slot.job;
  }
  return nullptr;
}

ScanJob* FirstJob() {
  if (g_server == nullptr) return nullptr;
  for (const Slot& slot : g_server->slots) {
    if (slot.inUse == 1) return slot.job;
  }
  return nullptr;
}

ScanJob* NextJob(const ScanJob* job) {
  if (g_server == nullptr) return nullptr;
  int index = 0;
  while (index < kConnectionSlots &&
         !(g_server->slots[index].inUse == 1 && g_server->slots[index].job == job)) {
    ++index;
  }
  for (++index; index < kConnectionSlots; ++index) {
    if (g_server->slots[index].inUse == 1) return g_server->slots[index].job;
  }
  return nullptr;
}

int JobCount() { return g_server == nullptr ? 0 : g_server->jobCount; }

const char* LocalHostName() { return g_server == nullptr ? "" : g_server->localHostName; }

}  // namespace qb
