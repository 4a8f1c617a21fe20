// What the FTP tests (and the session fuzz target) share: a server in which
// one user ("tester", password "secret") may store files into one folder; a
// line client for the control connection; a socket pair and a TLS client
// for the transport; and the test bed that starts a server on a port the
// system picks with a clock the tests may move.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>

#include "config/folders.h"
#include "ftp/ftp_server.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_socket.h"
#include "platform/fault_env.h"
#include "platform/net.h"
#include "platform/tls.h"
#include "tests/unit/test_root.h"

namespace qb::test {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr const char* kGreeting = "220 FTP ( TX QBX Service ) ready";
constexpr const char* kDenied = "550 Permission denied.";
constexpr const char* kCwdOk = "250 CWD command successful";
constexpr const char* kStored = "226 Transfer complete.";
constexpr const char* kUnknown = "500 command not understood.";

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

// Writes all of `bytes` to a blocking socket; false when the peer is gone.
inline bool SendAll(int socket, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const long put = SockSend(socket, bytes.data() + done, bytes.size() - done);
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

class TestFtpSession : public FtpSession {
 public:
  TestFtpSession(FtpServer* server, FtpSocket* control, const std::string& folder,
                 std::atomic<int>* ended, std::atomic<bool>* holdEnd)
      : FtpSession(server, control), folder_(folder), ended_(ended), hold_end_(holdEnd) {}

  bool CheckPassword(const char* user, const char* password) override {
    return std::strcmp(user, "tester") == 0 && std::strcmp(password, "secret") == 0;
  }
  // Names stand in the one folder; anything with a separator is refused.
  bool MakeLocalPath(const char* name, char* out) override {
    if (name[0] == '/') ++name;
    if (std::strchr(name, '/') != nullptr || std::strcmp(name, "..") == 0) return false;
    const std::string path = name[0] == '\0' ? folder_ : folder_ + "/" + name;
    if (path.size() >= 260) return false;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return true;
  }
  bool OnEnd(bool quit) override {
    // A session whose last steps take long (an extension library, a slow disk).
    while (hold_end_->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool result = FtpSession::OnEnd(quit);
    if (ended_ != nullptr) ++*ended_;
    return result;
  }

 private:
  std::string folder_;
  std::atomic<int>* ended_;
  std::atomic<bool>* hold_end_;
};

class TestFtpServer : public FtpServer {
 public:
  TestFtpServer(const std::string& folder, Env& env) : FtpServer(env), folder_(folder) {}
  ~TestFtpServer() override { Stop(); }

  std::unique_ptr<FtpSession> CreateSession(FtpSocket* control) override {
    return std::make_unique<TestFtpSession>(this, control, folder_, &sessions_ended_, &hold_ends_);
  }
  int sessionsEnded() const { return sessions_ended_.load(); }
  // While set, sessions wait before their last steps.
  void HoldSessionEnds(bool hold) { hold_ends_ = hold; }

 private:
  std::string folder_;
  std::atomic<int> sessions_ended_{0};
  std::atomic<bool> hold_ends_{false};
};

// A control connection driven line by line, from `from` (0: any address).
class FtpLineClient {
 public:
  FtpLineClient(uint16_t port, uint32_t from = 0) : socket_(TcpConnect(kLoopback, port, from)) {}
  ~FtpLineClient() { Close(); }
  FtpLineClient(const FtpLineClient&) = delete;
  FtpLineClient& operator=(const FtpLineClient&) = delete;

  void Close() {
    if (socket_ >= 0) SockClose(socket_);
    socket_ = -1;
  }
  // A data connection to `port` from this client's own address (the
  // server takes passive connections only from there), or from `from`.
  int ConnectData(uint16_t port, uint32_t from = 0) const {
    Ipv4Peer end;
    if (from == 0 && SocketLocalEnd(socket_, &end)) from = end.address;
    return TcpConnect(kLoopback, port, from);
  }
  void SendRaw(const std::string& bytes) { SockSend(socket_, bytes.data(), bytes.size()); }
  void Send(const std::string& line) { SendRaw(line + "\r\n"); }

  // The next reply line without CR LF; "" on time-out, "<closed>" when the
  // server closed the connection.
  std::string Reply(int timeoutMs = 5000) {
    for (;;) {
      const size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return line;
      }
      if (!WaitReadable(socket_, timeoutMs)) return "";
      char chunk[4096];
      const long got = SockRecv(socket_, chunk, sizeof chunk);
      if (got <= 0) return "<closed>";
      buffer_.append(chunk, static_cast<size_t>(got));
    }
  }
  std::string Command(const std::string& line) {
    Send(line);
    return Reply();
  }
  // Greeting, USER and PASS; true when all were answered as a login.
  bool LogIn(const std::string& user = "tester", const std::string& password = "secret") {
    return Reply() == kGreeting && Command("USER " + user).rfind("331", 0) == 0 &&
           Command("PASS " + password).rfind("230", 0) == 0;
  }

 private:
  int socket_;
  std::string buffer_;
};

// The port of a 227 reply, 0 when it is not one.
inline uint16_t PassivePort(const std::string& reply) {
  int h1, h2, h3, h4, p1, p2;
  if (std::sscanf(reply.c_str(), "227 Entering Passive Mode (%d,%d,%d,%d,%d,%d)", &h1, &h2, &h3,
                  &h4, &p1, &p2) != 6)
    return 0;
  return static_cast<uint16_t>(p1 * 256 + p2);
}

// A settings file, a temporary folder, a fault-injecting Env and a server on
// a port the system picks with a fast heartbeat (time-outs show within a
// test). Fixtures inherit it beside ::testing::Test.
class FtpTestBed {
 protected:
  void Prepare(const std::string& settings, bool manualClock) {
    root_.WriteSettings("[MANAGEMENT]\nFTP_Support=1\nFTPS_Support=0\nFTP_SocketTimeOut=30\n" +
                        settings);
    ::setenv("TMP", (root_.path() + "/tmp").c_str(), 1);
    InitTempFolder();
    env_ = std::make_unique<FaultEnv>(manualClock);
  }
  // The port, 0 when the server did not listen.
  uint16_t Listen(FtpServer& server) {
    server.SetHeartbeatMs(50);
    server.SetPort(0);
    server.Start(0);
    return port_ = server.WaitUntilListening(5000);
  }
  std::unique_ptr<FtpLineClient> Connect(uint32_t from = 0) {
    return std::make_unique<FtpLineClient>(port_, from);
  }

  // PASV, STOR `name` and `data` over the data connection; the final reply
  // (or the first one when it is no 150).
  static std::string Store(FtpLineClient& client, const std::string& name,
                           const std::string& data) {
    const uint16_t port = PassivePort(client.Command("PASV"));
    if (port == 0) return "no PASV";
    const int socket = client.ConnectData(port);
    client.Send("STOR " + name);
    const std::string first = client.Reply();
    if (first.rfind("150", 0) != 0) {
      SockClose(socket);
      return first;
    }
    SetBlocking(socket, true);
    SendAll(socket, data);
    SockClose(socket);
    return client.Reply(20000);
  }
  // Sends each command; the ones not answered with their reply, as
  // "command -> reply" lines ("" when all were).
  static std::string WrongReplies(FtpLineClient& client,
                                  std::initializer_list<std::pair<std::string, std::string>> steps) {
    std::string wrong;
    for (const auto& [command, reply] : steps) {
      const std::string got = client.Command(command);
      if (got != reply) wrong += command + " -> " + got + "\n";
    }
    return wrong;
  }
  static bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
  }
  // Temporary and staging files anywhere under the root.
  int LeftoverFiles() const {
    int count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_.path())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(".qbx-", 0) == 0 || name.rfind("TXQB", 0) == 0) ++count;
    }
    return count;
  }

  TestRoot root_;
  std::unique_ptr<FaultEnv> env_;
  uint16_t port_ = 0;
};

// The server end of a socket pair as an accepted control or data socket; the
// client end a plain blocking socket.
struct SocketPair {
  SocketPair(FtpRunning* running, Env& env) {
    int ends[2];
    if (!StreamSocketPair(ends, false)) return;
    server = std::make_unique<FtpSocket>(running, env);
    server->Attach(ends[0]);
    client = ends[1];
  }
  ~SocketPair() { CloseClient(); }
  void CloseClient() {
    if (client >= 0) SockClose(client);
    client = -1;
  }
  bool Write(const std::string& bytes) const { return SendAll(client, bytes); }
  std::unique_ptr<FtpSocket> server;
  int client = -1;
};

// A self-signed certificate and key made once per test program.
struct Certificate {
  std::string key;
  std::string certificate;
  static const Certificate& Get() {
    static const Certificate made = [] {
      char pattern[] = "/tmp/qbcert.XXXXXX";
      const std::string folder = ::mkdtemp(pattern);
      Certificate c{folder + "/key.pem", folder + "/cert.pem"};
      WriteSelfSignedCertificate(c.key, c.certificate);
      return c;
    }();
    return made;
  }
};

// The printer's side of a TLS connection over a blocking socket.
class TlsClient {
 public:
  explicit TlsClient(int socket) : context_(TlsContext::NewClient()) {
    session_ = TlsSession::NewClient(context_.get(), socket);
  }
  bool Handshake() { return session_ && session_->Connect().status == TlsStatus::kOk; }
  bool Write(const std::string& text) {
    for (size_t done = 0; done < text.size();) {
      const TlsResult r = session_->Write(text.data() + done, static_cast<int>(text.size() - done));
      if (r.status != TlsStatus::kOk) return false;
      done += static_cast<size_t>(r.bytes);
    }
    return true;
  }
  // Everything up to the peer's close (or an error).
  std::string ReadAll() {
    std::string all;
    char buffer[4096];
    for (;;) {
      const TlsResult r = session_->Read(buffer, sizeof buffer);
      if (r.status != TlsStatus::kOk || r.bytes <= 0) return all;
      all.append(buffer, static_cast<size_t>(r.bytes));
    }
  }
  // One line with its CR LF removed ("" on failure).
  std::string ReadLine() {
    std::string line;
    char c;
    while (session_->Read(&c, 1).status == TlsStatus::kOk && c != '\n') {
      if (c != '\r') line += c;
    }
    return line;
  }
  void Shutdown() { session_->Shutdown(); }

 private:
  std::unique_ptr<TlsContext> context_;
  std::unique_ptr<TlsSession> session_;
};

}  // namespace qb::test
