// The FTP / FTPS server: a listening socket with a thread that admits
// connections, one thread per admitted session running its command loop,
// one per data transfer. The base classes form a complete server in which
// nobody can log in; a derived server and session give it its users,
// folders and saving through the hooks below.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "ftp/ftp_running.h"
#include "ftp/ftp_socket.h"
#include "platform/env.h"
#include "platform/tls.h"

namespace qb {

class FtpSession;

// Connections held at once, and per peer address.
constexpr int kMaxFtpSessions = 20000;
constexpr int kMaxFtpSessionsPerAddress = 2;
// Passive listeners one client address may hold at once: one per session
// it may have.
constexpr int kMaxPassivePortsPerAddress = kMaxFtpSessionsPerAddress;
// Session and transfer threads are many and shallow.
constexpr size_t kFtpThreadStackBytes = 256 * 1024;

class FtpServer {
 public:
  explicit FtpServer(Env& env);
  virtual ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  void SetPort(int port) { port_ = port; }
  // Starts the server thread (once per object); always true.
  bool Start(uint8_t serviceMode);
  // Ends every session and waits until the server thread has finished.
  void Stop();

  // --- hooks ---
  // After the session count changed by `delta` to `count`, under GlobalLock.
  virtual void OnSessionCountChanged(int count, int delta);
  // May a connection from this address (network byte order) become a session.
  virtual bool AcceptClient(uint32_t address);
  virtual std::unique_ptr<FtpSession> CreateSession(FtpSocket* control);
  virtual void OnInit();
  virtual void OnDispose();

  // --- for sessions, tests and start-up ---
  TlsContext* Tls() const { return tls_.get(); }
  FtpRunning* running() { return &running_; }
  Env& env() const { return env_; }
  int SessionCount() const { return session_count_.load(); }
  bool ServiceMode() const { return service_mode_ != 0; }
  // Waits up to timeoutMs for the server to listen; its port then (0 when
  // listening failed or took longer). With port 0 the system picks one.
  uint16_t WaitUntilListening(int timeoutMs);
  // How often an idle session checks its idle limit, and how long a line
  // may take (5 s; tests shorten it).
  void SetHeartbeatMs(int ms) { heartbeat_ms_ = ms; }
  int HeartbeatMs() const { return heartbeat_ms_; }
  // A passive port for a client address (network byte order): false when
  // it already holds kMaxPassivePortsPerAddress. Each true is given back.
  bool TakePassivePort(uint32_t address);
  void ReleasePassivePort(uint32_t address);

 private:
  void ServerThread();
  void BuildTlsContext();
  void AcceptLoop(FtpSocket& listener);
  bool Admit(FtpSocket& control);
  void EndSession(FtpSession* session, std::unique_ptr<FtpSocket> control);
  void WaitForSessionsToEnd();
  void ReportStartError(const char* message);

  Env& env_;
  FtpRunning running_;
  int port_ = 21;
  uint8_t service_mode_ = 0;
  int heartbeat_ms_ = 5000;
  std::unique_ptr<TlsContext> tls_;
  std::thread thread_;

  // Guarded by GlobalLock.
  std::list<FtpSession*> sessions_;
  std::atomic<int> session_count_{0};
  std::unordered_map<uint32_t, int> passive_ports_;

  std::mutex state_mutex_;
  std::condition_variable state_changed_;
  bool listening_done_ = false;  // the server thread got past listen
  int session_threads_ = 0;      // admitted sessions whose thread has not finished
  uint16_t bound_port_ = 0;
};

// Reports a start-up failure of the server to a person: the system log in
// service mode, a message box otherwise.
void ReportFtpStartError(const char* message, bool serviceMode);

}  // namespace qb
