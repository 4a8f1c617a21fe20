// Shared pieces of the FTP transport tests: a socket pair with the server
// end in a FtpSocket, a self-signed certificate, and a TLS client that
// plays the printer on the other end.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "ftp/ftp_socket.h"
#include "platform/net.h"
#include "platform/tls.h"
#include "tests/unit/test_root.h"

namespace qb::test {

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

// The server end as an accepted control or data socket; the client end a
// plain blocking socket.
struct SocketPair {
  SocketPair(FtpRunning* running, Env& env) {
    int ends[2];
    if (!StreamSocketPair(ends, false)) return;
    server = std::make_unique<FtpSocket>(running, env);
    server->attach(ends[0]);
    client = ends[1];
  }
  ~SocketPair() { CloseClient(); }
  void CloseClient() {
    if (client >= 0) SockClose(client);
    client = -1;
  }
  bool Write(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      long put = SockSend(client, bytes.data() + done, bytes.size() - done);
      if (put <= 0) return false;
      done += static_cast<size_t>(put);
    }
    return true;
  }
  std::unique_ptr<FtpSocket> server;
  int client = -1;
};

// A certificate and key made once per test program.
struct Certificate {
  std::string key;
  std::string certificate;
  static const Certificate& Get() {
    static const Certificate made = [] {
      Certificate c;
      char pattern[] = "/tmp/qbcert.XXXXXX";
      std::string folder = ::mkdtemp(pattern);
      c.key = folder + "/key.pem";
      c.certificate = folder + "/cert.pem";
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
    size_t done = 0;
    while (done < text.size()) {
      TlsResult r = session_->Write(text.data() + done, static_cast<int>(text.size() - done));
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
      TlsResult r = session_->Read(buffer, sizeof buffer);
      if (r.status != TlsStatus::kOk || r.bytes <= 0) return all;
      all.append(buffer, static_cast<size_t>(r.bytes));
    }
  }
  // One line with its CR LF removed ("" on failure).
  std::string ReadLine() {
    std::string line;
    char c;
    while (session_->Read(&c, 1).status == TlsStatus::kOk) {
      if (c == '\n') break;
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
