// The transport under the FTP server: one TCP connection (control or
// data), plain or inside a TLS session; a line reader and writer for the
// control connection and a stream receiver for stored files.
//
// Results of the receive and send calls: > 0 bytes or line length; 0
// nothing yet; -1 error (the socket has been closed); -2 the peer closed
// (closed); -3 time-out, or the server is stopping.
//
// Every wait is a poll on the socket and the server's wake descriptor with
// the time-outs the protocol gives; nothing sleeps and polls again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ftp/ftp_running.h"
#include "platform/env.h"
#include "platform/tls.h"

namespace qb {

class ReceivedFileWriter;

constexpr int kFtpRecvError = -1;
constexpr int kFtpPeerClosed = -2;
constexpr int kFtpTimedOut = -3;
// How long a TLS handshake may wait for the client (20 tries of 300 ms).
constexpr int kSslAcceptBudgetMs = 6000;
// What a data connection reads ahead of its protected stream at a time.
constexpr int kFileReadAheadBytes = 128 * 1024;
// Pause of a listener whose accept failed for want of descriptors or memory.
constexpr int kAcceptBackoffMs = 50;

class FtpSocket {
 public:
  FtpSocket(FtpRunning* running, Env& env);
  ~FtpSocket();
  FtpSocket(const FtpSocket&) = delete;
  FtpSocket& operator=(const FtpSocket&) = delete;

  // Listens on `port` of `address` ("INADDR_ANY" or dotted IPv4) with the
  // system's maximum backlog; false with LastError() set on failure.
  bool Listen(uint16_t port, const char* address);
  // The next waiting connection, waiting up to waitMs for one (0: answer
  // at once); null when none came or the server stops.
  std::unique_ptr<FtpSocket> Accept(int waitMs = 0);
  // Active connect: 1 connected, -1 error, -3 time-out or stopping.
  int Connect(const char* address, uint16_t port);
  // Takes over a connected stream socket (made non-blocking), as accept
  // would hand it over: for in-process drivers and tests.
  void Attach(int handle);

  void SetTimeout(int seconds) { timeout_ms_ = seconds * 1000; }
  // The same in milliseconds (the command loop's heartbeat).
  void SetTimeoutMs(int ms) { timeout_ms_ = ms; }
  int timeout() const { return timeout_ms_ / 1000; }
  bool IsTls() const { return tls_on_.load(std::memory_order_acquire); }
  // Server side TLS handshake, waiting for the client at most budgetMs; on
  // failure the connection is closed. Bytes the line reader kept from
  // before the handshake are dropped. Other writers wait for its end.
  bool SslAccept(TlsContext* context, int budgetMs = kSslAcceptBudgetMs);
  // For a data connection, before SslAccept: its protected stream is read
  // in large blocks.
  void CarriesFiles() { carries_files_ = true; }

  int Recv(void* buffer, int length);
  // Sends all bytes; a negative time-out takes the socket's own.
  int Send(const void* buffer, int length, int timeoutSeconds);
  // One line without its line end (CR, LF or CR LF), NUL-terminated.
  int LineRecv(char* buffer, int size);
  // The text and CR LF, whole: lines of two threads never interleave.
  int LineSend(const char* text, int timeoutSeconds);
  // Feeds the stream into `writer` until the peer closes it (true), an
  // error, a writer failure or the time-out without data (false).
  bool RecvBinaryFile(ReceivedFileWriter* writer);
  bool IsClosed();
  void Close();

  int handle() const { return handle_.load(std::memory_order_acquire); }
  int LastError() const { return last_error_; }
  // Bound port of a listener (useful with port 0).
  uint16_t LocalPort() const { return local_port_; }
  // Dotted addresses of both ends.
  std::string LocalAddressText() const;
  std::string PeerAddressText() const;
  // Peer's IPv4 address in network byte order.
  uint32_t PeerAddress() const;
  FtpRunning* running() const { return running_; }

 private:
  enum class Ready { kReady, kTimedOut, kStopped };
  // Waits until a receive may find something (TLS bytes already decrypted
  // count), up to timeoutMs (-1: no limit).
  Ready WaitForInput(int timeoutMs);
  int SendLocked(const char* data, int length, int timeoutSeconds);
  // Callers hold tls_mutex_.
  void CloseLocked();
  void TakeEnds();
  bool Running() const { return running_ == nullptr || running_->IsRunning(); }
  int WakeFd() const { return running_ != nullptr ? running_->WakeDescriptor() : -1; }

  FtpRunning* running_;
  Env& env_;
  std::atomic<int> handle_{-1};
  std::atomic<bool> tls_on_{false};
  // Set on accept, connect and attach: only a connection can be closed by
  // its peer.
  bool watch_close_ = false;
  // The last TLS read wanted to write first (the next wait is for room).
  bool read_wants_write_ = false;
  // A read taken on the way (to fill a block) met the end of the TLS
  // stream or an error: the next receive reports it without waiting.
  bool tls_end_read_ = false;
  // The last TLS read wanted more of a record than the library holds.
  bool tls_partial_ = false;
  bool carries_files_ = false;  // a data connection: TLS reads ahead in large blocks
  // Accepts of a listener that failed for want of resources since the last
  // one that worked (traced once, when the burst ends).
  int accept_starved_ = 0;
  uint32_t local_address_ = 0;  // host order
  uint16_t local_port_ = 0;
  uint32_t peer_address_ = 0;  // host order
  uint16_t peer_port_ = 0;
  std::unique_ptr<TlsSession> tls_;
  int last_error_ = 0;
  std::string pending_;    // bytes after the last line returned
  int timeout_ms_ = 0;     // 0: no time-out
  std::mutex send_mutex_;  // one whole line at a time; held by a handshake
  // Held for every TLS call and for every change of the handle or the TLS
  // session, never while waiting: TLS reads and writes never overlap, and
  // a close on one thread never pulls the socket from under another.
  std::mutex tls_mutex_;
};

// The server's TLS context from PEM files; null (and a line naming the
// file and the reason to `logger` and `error`) when a file cannot be read
// or the key does not belong to the certificate.
std::unique_ptr<TlsContext> CreateSslContext(const char* keyPath, const char* passPhrase,
                                             const char* certificatePath,
                                             void (*logger)(const char*),
                                             std::string* error = nullptr);

// The FTP debug log (setting FTP_DebugLog, read once).
void FtpLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool FtpLogEnabled();

// Byte searches that step over double-byte characters of the code page.
const char* FindLastByte(const char* text, char byte);
const char* FindFirstByte(const char* text, char byte);

}  // namespace qb
