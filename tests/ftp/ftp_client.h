// A minimal FTP control-connection client over the platform's sockets, for
// driving the engine line by line.
#pragma once

#include <cstring>
#include <string>

#include "ftp/ftp_server.h"
#include "platform/net.h"

namespace qb::test {

// Starts `server` on a port the system picks, with a fast heartbeat so that
// time-outs show within a test; the port, or 0 when it did not listen.
inline uint16_t StartOnFreePort(FtpServer& server) {
  server.setHeartbeatMs(50);
  server.setPort(0);
  server.start(0);
  return server.WaitUntilListening(5000);
}

class FtpLineClient {
 public:
  FtpLineClient(uint16_t port, uint32_t from = 0, uint32_t to = 0x7F000001)
      : socket_(TcpConnect(to, port, from)) {}
  ~FtpLineClient() { Close(); }
  FtpLineClient(const FtpLineClient&) = delete;
  FtpLineClient& operator=(const FtpLineClient&) = delete;

  bool connected() const { return socket_ >= 0; }
  int socket() const { return socket_; }
  void Close() {
    if (socket_ >= 0) SockClose(socket_);
    socket_ = -1;
  }

  // A data connection to `port` from this client's own address (the
  // server takes passive connections only from there).
  int ConnectData(uint16_t port, uint32_t to = 0x7F000001) const {
    Ipv4Peer end;
    if (!SocketLocalEnd(socket_, &end)) return -1;
    return TcpConnect(to, port, end.address);
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
  // Greeting, USER and PASS of the test login.
  bool LogIn() {
    return Reply() == "220 FTP ( TX QBX Service ) ready" &&
           Command("USER tester").rfind("331", 0) == 0 && Command("PASS secret").rfind("230", 0) == 0;
  }

 private:
  int socket_;
  std::string buffer_;
};

// The port of a 227 reply, 0 when it is not one.
inline uint16_t PassivePort(const std::string& reply) {
  int h1, h2, h3, h4, p1, p2;
  if (std::sscanf(reply.c_str(), "227 Entering Passive Mode (%d,%d,%d,%d,%d,%d)", &h1, &h2, &h3, &h4, &p1,
                  &p2) != 6)
    return 0;
  return static_cast<uint16_t>(p1 * 256 + p2);
}

}  // namespace qb::test
