#include "ftp/ftp_server.h"

#include <cstdio>
#include <cstring>

#include "config/folders.h"
#include "config/settings.h"
#include "ftp/ftp_session.h"
#include "platform/detached_thread.h"
#include "platform/global_lock.h"
#include "platform/net.h"
#include "platform/system_log.h"
#include "platform/trace.h"

namespace qb {
namespace {

void LogToFtpLog(const char* text) { FtpLog("%s", text); }

}  // namespace

void ReportFtpStartError(const char* message, bool serviceMode) {
  if (serviceMode) {
    LogSystemError(message);
  } else {
    ShowMessageBox(message, "Quillbox");
  }
}

FtpServer::FtpServer(Env& env) : env_(env) {}

FtpServer::~FtpServer() { Stop(); }

// --- base hooks ---

void FtpServer::OnSessionCountChanged(int /*count*/, int /*delta*/) {}

bool FtpServer::AcceptClient(uint32_t /*address*/) { return true; }

std::unique_ptr<FtpSession> FtpServer::CreateSession(FtpSocket* control) {
  return std::make_unique<FtpSession>(this, control);
}

void FtpServer::OnInit() {}

void FtpServer::OnDispose() {}

// --- running ---

bool FtpServer::Start(uint8_t serviceMode) {
  if (thread_.joinable()) return true;
  service_mode_ = serviceMode;
  thread_ = std::thread([this] { ServerThread(); });
  return true;
}

void FtpServer::Stop() {
  running_.Stop();
  if (thread_.joinable()) thread_.join();
}

uint16_t FtpServer::WaitUntilListening(int timeoutMs) {
  std::unique_lock<std::mutex> lock(state_mutex_);
  state_changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return listening_done_; });
  return bound_port_;
}

void FtpServer::ReportStartError(const char* message) { ReportFtpStartError(message, ServiceMode()); }

void FtpServer::BuildTlsContext() {
  char keyPath[260] = {};
  char certificatePath[260] = {};
  GetSSL_PrivateKey(keyPath, sizeof keyPath);
  GetSSL_CertificateKey(certificatePath, sizeof certificatePath);
  if (keyPath[0] == '\0') {
    // The pair that comes with the program, next to its executable.
    char folder[260] = {};
    GetProgramFolder(folder, sizeof folder);
    std::snprintf(keyPath, sizeof keyPath, "%s/DfPriv.key", folder);
    std::snprintf(certificatePath, sizeof certificatePath, "%s/DfCert.crt", folder);
  }
  std::string error;
  tls_ = CreateSslContext(keyPath, "", certificatePath, LogToFtpLog, &error);
  if (tls_ == nullptr) {
    const std::string message = "Cannot initialize SSL: " + error;
    TraceLog("%s", message.c_str());
    ReportStartError(message.c_str());
  }
}

void FtpServer::ServerThread() {
  OnInit();
  FtpSocket listener(&running_, env_);
  const bool listening = listener.Listen(static_cast<uint16_t>(port_), "INADDR_ANY");
  if (!listening) {
    ReportStartError("Cannot listen FTP port");
  } else {
    if (GetFTPS_Support() != 0) BuildTlsContext();
  }
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    listening_done_ = true;
    bound_port_ = listening ? listener.LocalPort() : 0;
  }
  state_changed_.notify_all();

  if (listening) {
    AcceptLoop(listener);
    WaitForSessionsToEnd();
  }
  tls_.reset();
  OnDispose();
  listener.Close();
}

// Waits for connections instead of looking every 50 ms: the wait ends at
// once when a client connects or the server stops.
void FtpServer::AcceptLoop(FtpSocket& listener) {
  while (running_.IsRunning()) {
    std::unique_ptr<FtpSocket> control = listener.Accept(-1);
    if (control == nullptr) continue;
    const uint32_t address = control->PeerAddress();
    if (FtpLogEnabled()) {
      const uint8_t* octet = reinterpret_cast<const uint8_t*>(&address);
      FtpLog("Connect from %d.%d.%d.%d\n", octet[0], octet[1], octet[2], octet[3]);
    }
    if (!Admit(*control)) continue;  // closed without a word
    // A transfer's 226 follows the session's 150 at once; without this the
    // second reply would wait for the client's delayed acknowledgement.
    SetNoDelay(control->handle());
    FtpSocket* raw = control.get();
    std::unique_ptr<FtpSession> made = CreateSession(raw);
    FtpSession* session = made.release();
    {
      GlobalLockGuard lock;
      sessions_.push_back(session);
    }
    FtpSocket* socket = control.release();
    if (!StartDetachedThread(kFtpThreadStackBytes, [this, session, socket] {
          session->RunCommandLoop();
          EndSession(session, std::unique_ptr<FtpSocket>(socket));
        })) {
      EndSession(session, std::unique_ptr<FtpSocket>(socket));
    }
  }
}

// Admission: the session count, two sessions per address (one that has
// answered QUIT no longer counts), and the hook.
// The session joins the list here rather than on its own thread, so that a
// burst of connections from one address cannot slip past the per-address
// limit before the first of them is listed.
bool FtpServer::Admit(FtpSocket& control) {
  const std::string peer = control.PeerAddressText();
  const uint32_t address = control.PeerAddress();
  {
    GlobalLockGuard lock;
    if (session_count_.load() > kMaxFtpSessions - 1) return false;
    int fromPeer = 0;
    for (FtpSession* session : sessions_) {
      if (!session->leaving() && session->control()->PeerAddress() == address) ++fromPeer;
    }
    if (fromPeer >= kMaxFtpSessionsPerAddress) return false;
  }
  if (!AcceptClient(address)) return false;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    ++session_threads_;
  }
  GlobalLockGuard lock;
  const int count = ++session_count_;
  OnSessionCountChanged(count, +1);
  return true;
}

// The last thing a session thread does. The server waits for the count of
// session threads, which drops only once the hook for the lowered session
// count has returned: after that the server may be gone, so nothing of it
// is touched once the lock is let go.
void FtpServer::EndSession(FtpSession* session, std::unique_ptr<FtpSocket> control) {
  {
    GlobalLockGuard lock;
    sessions_.remove(session);
  }
  delete session;
  control.reset();
  {
    GlobalLockGuard lock;
    const int count = --session_count_;
    OnSessionCountChanged(count, -1);
  }
  std::lock_guard<std::mutex> lock(state_mutex_);
  --session_threads_;
  state_changed_.notify_all();
}

bool FtpServer::TakePassivePort(uint32_t address) {
  GlobalLockGuard lock;
  int& held = passive_ports_[address];
  if (held >= kMaxPassivePortsPerAddress) return false;
  ++held;
  return true;
}

void FtpServer::ReleasePassivePort(uint32_t address) {
  GlobalLockGuard lock;
  auto found = passive_ports_.find(address);
  if (found == passive_ports_.end()) return;
  if (--found->second <= 0) passive_ports_.erase(found);
}

void FtpServer::WaitForSessionsToEnd() {
  std::unique_lock<std::mutex> lock(state_mutex_);
  state_changed_.wait(lock, [this] { return session_threads_ == 0; });
}

}  // namespace qb
