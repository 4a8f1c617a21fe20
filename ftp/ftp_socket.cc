#include "ftp/ftp_socket.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config/settings.h"
#include "ftp/save_file.h"
#include "platform/bounded_log.h"
#include "platform/clock_text.h"
#include "platform/codepage.h"
#include "platform/net.h"
#include "platform/trace.h"

namespace qb {
namespace {

constexpr int kLineSendMax = 30000;

// Milliseconds left of a time-out of `timeoutMs` that started at `startMs`;
// -1 when there is no time-out.
int64_t LeftMs(int timeoutMs, int64_t startMs, int64_t nowMs) {
  if (timeoutMs <= 0) return -1;
  int64_t left = static_cast<int64_t>(timeoutMs) - (nowMs - startMs);
  return left > 0 ? left : 0;
}

// How long one wait on the system may last: what is left, but no longer
// than the Env allows between looks at its clock (a test's clock jumps).
int WaitMs(int64_t left, const Env& env) {
  const int64_t longest = env.LongestWaitMs();
  if (left < 0 || (longest >= 0 && left > longest)) left = longest;
  if (left < 0) return -1;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

bool Expired(int timeoutMs, int64_t startMs, int64_t nowMs) {
  return timeoutMs > 0 && nowMs - startMs >= timeoutMs;
}

}  // namespace

FtpSocket::FtpSocket(FtpRunning* running, Env& env) : running_(running), env_(env) {}

FtpSocket::~FtpSocket() { Close(); }

void FtpSocket::TakeEnds() {
  Ipv4Peer end;
  if (SocketLocalEnd(handle_, &end)) {
    local_address_ = end.address;
    local_port_ = end.port;
  }
  if (SocketPeerEnd(handle_, &end)) {
    peer_address_ = end.address;
    peer_port_ = end.port;
  }
}

bool FtpSocket::Listen(uint16_t port, const char* address) {
  uint32_t bindAddress = 0;
  if (address != nullptr && std::strcmp(address, "INADDR_ANY") != 0 &&
      !ParseDottedAddress(address, &bindAddress)) {
    last_error_ = kWsaEAddrNotAvail;
    return false;
  }
  // Non-blocking: accept only follows a wait that found a connection, and
  // one that vanished meanwhile must not block the server thread.
  int fd = TcpListenAt(bindAddress, port, MaxListenBacklog());
  if (fd < 0) {
    last_error_ = LastSocketError();
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(tls_mutex_);
    handle_ = fd;
  }
  Ipv4Peer end;
  local_address_ = bindAddress;
  local_port_ = port;
  if (SocketLocalEnd(fd, &end)) {
    local_address_ = end.address;
    local_port_ = end.port;
  }
  return true;
}

std::unique_ptr<FtpSocket> FtpSocket::Accept(int waitMs) {
  const int fd = handle_;
  if (fd < 0 || !Running()) return nullptr;
  // Waits for a connection (or the stop) instead of a 1 µs readiness poll.
  if (WaitSocket(fd, false, WakeFd(), waitMs < 0 ? -1 : waitMs) != WaitResult::kReady) {
    return nullptr;
  }
  int accepted = TcpAccept(fd, nullptr);
  if (accepted < 0) {
    const int error = LastSocketError();
    if (error == kWsaEMFile || error == kWsaENoBufs) {
      // Out of descriptors or memory: the connection stays queued and the
      // listener readable, so an immediate retry would spin. Back off (the
      // stop still ends the pause) and say so once per burst.
      // The trace line waits for the burst's end: while descriptors are
      // out, the trace file could not be opened to write it.
      ++accept_starved_;
      WaitSocket(-1, false, WakeFd(), kAcceptBackoffMs);
    }
    return nullptr;
  }
  if (accept_starved_ > 0) {
    TraceLog("FTP accept on port %u resumed after %d pauses for want of descriptors or memory.",
             static_cast<unsigned>(local_port_), accept_starved_);
    accept_starved_ = 0;
  }
  auto socket = std::make_unique<FtpSocket>(running_, env_);
  socket->Attach(accepted);
  return socket;
}

void FtpSocket::Attach(int handle) {
  Close();
  SetBlocking(handle, false);
  {
    std::lock_guard<std::mutex> lock(tls_mutex_);
    handle_ = handle;
  }
  watch_close_ = true;
  TakeEnds();
}

int FtpSocket::Connect(const char* address, uint16_t port) {
  uint32_t target = 0;
  if (address == nullptr || !ParseDottedAddress(address, &target)) {
    last_error_ = kWsaEAddrNotAvail;
    return -1;
  }
  bool inProgress = false;
  int fd = TcpConnectStart(target, port, &inProgress);
  if (fd < 0) {
    last_error_ = LastSocketError();
    return -1;
  }
  peer_address_ = target;
  peer_port_ = port;
  // A non-blocking connect waited on for writability, instead of retrying
  // every 10 ms; with no time-out only the system's own limit and the
  // server's stop end the wait.
  const int64_t start = env_.NowMs();
  while (inProgress) {
    const int64_t left = LeftMs(timeout_ms_, start, env_.NowMs());
    if (left == 0) {
      SockClose(fd);
      return kFtpTimedOut;
    }
    WaitResult waited = WaitSocket(fd, true, WakeFd(), WaitMs(left, env_));
    if (waited == WaitResult::kStopped) {
      SockClose(fd);
      return kFtpTimedOut;
    }
    if (waited == WaitResult::kTimedOut) continue;
    int error = ConnectResult(fd);
    if (error != 0) {
      last_error_ = error;
      SockClose(fd);
      return -1;
    }
    inProgress = false;
  }
  {
    std::lock_guard<std::mutex> lock(tls_mutex_);
    handle_ = fd;
  }
  watch_close_ = true;
  TakeEnds();
  return 1;
}

bool FtpSocket::SslAccept(TlsContext* context, int budgetMs) {
  if (context == nullptr) return false;
  // No reply may go out in plain or half-negotiated form while the
  // handshake runs: other writers wait for its end.
  std::lock_guard<std::mutex> sending(send_mutex_);
  std::unique_ptr<TlsSession> session;
  {
    std::lock_guard<std::mutex> lock(tls_mutex_);
    if (handle_ < 0) return false;
    if (tls_) {
      tls_->Shutdown();
      tls_.reset();
      tls_on_ = false;
    }
    session = TlsSession::NewServer(context, handle_);
  }
  if (!session) return false;
  // A stored file arrives in records of 16 KiB: reading one at a time would
  // cost a receive and often a wait per record.
  if (carries_files_) session->ReadAheadUpTo(kFileReadAheadBytes);

  // The handshake waits for the client's next flight on the socket, within
  // the same budget the 20 tries of 300 ms gave, instead of sleeping.
  const int64_t deadline = env_.NowMs() + budgetMs;
  bool ok = false;
  for (;;) {
    TlsResult result;
    int fd;
    {
      std::lock_guard<std::mutex> lock(tls_mutex_);
      fd = handle_;
      if (fd < 0) break;
      result = session->Accept();
    }
    if (result.status == TlsStatus::kOk) {
      ok = true;
      break;
    }
    if (result.status != TlsStatus::kWantRead && result.status != TlsStatus::kWantWrite) break;
    const int64_t left = deadline - env_.NowMs();
    if (left <= 0) break;
    if (WaitSocket(fd, result.status == TlsStatus::kWantWrite, WakeFd(), WaitMs(left, env_)) !=
        WaitResult::kReady) {
      break;
    }
  }
  {
    std::lock_guard<std::mutex> lock(tls_mutex_);
    if (ok && handle_ >= 0) {
      tls_ = std::move(session);
      tls_on_ = true;
      tls_end_read_ = false;
      tls_partial_ = false;
    } else {
      ok = false;
      session->Shutdown();
    }
  }
  if (!ok) {
    // Deliberately closed (the original went on in plain form): whatever
    // the client sends next was meant to be protected, and a half-done
    // handshake leaves no way to tell its bytes from commands.
    FtpLog("SSL AUTH FAILED.");
    Close();
    return false;
  }
  // Whatever arrived in plain form after the command that started the
  // handshake was sent before protection: it must never be taken for a
  // protected command.
  pending_.clear();
  FtpLog("SSL AUTH OK!");
  return true;
}

void FtpSocket::CloseLocked() {
  const int fd = handle_;
  if (fd < 0) return;
  if (tls_) {
    tls_->Shutdown();
    tls_.reset();
    tls_on_ = false;
  }
  // Shutting the connection down first wakes another thread that waits on
  // this socket (a writer waiting for room); closing alone would not.
  SockShutdown(fd, kShutBoth);
  SockClose(fd);
  handle_ = -1;
}

void FtpSocket::Close() {
  std::lock_guard<std::mutex> lock(tls_mutex_);
  CloseLocked();
}

int FtpSocket::Recv(void* buffer, int length) {
  std::lock_guard<std::mutex> lock(tls_mutex_);
  const int fd = handle_;
  if (fd < 0) return kFtpRecvError;
  // A receive of no bytes would read as the peer's close.
  if (length <= 0) return 0;
  read_wants_write_ = false;
  if (tls_) {
    TlsResult result = tls_->Read(buffer, length);
    switch (result.status) {
      case TlsStatus::kOk: {
        // A record holds at most 16 KiB: take what is already here too, so
        // a stored file moves in blocks as large as on a plain connection.
        int got = result.bytes;
        tls_partial_ = false;
        while (got < length && tls_->Buffered()) {
          TlsResult more = tls_->Read(static_cast<char*>(buffer) + got, length - got);
          if (more.status == TlsStatus::kOk) {
            got += more.bytes;
            continue;
          }
          // The peer's Close (or an error) came right behind the data: the
          // next call meets it again, and must not wait on the socket first.
          if (more.status != TlsStatus::kWantRead && more.status != TlsStatus::kWantWrite) {
            tls_end_read_ = true;
          }
          if (more.status == TlsStatus::kWantRead) tls_partial_ = true;
          break;
        }
        return got;
      }
      case TlsStatus::kWantRead:
        // What the library holds (if anything) is only part of a record:
        // the rest must come from the socket, so waits go there.
        tls_partial_ = true;
        return 0;
      case TlsStatus::kWantWrite:
        read_wants_write_ = true;
        return 0;
      case TlsStatus::kSyscall:
        FtpLog("SSL_read detected SSL_ERROR_SYSCALL but assumed as close.");
        CloseLocked();
        return kFtpPeerClosed;
      case TlsStatus::kZeroReturn:
        CloseLocked();
        return kFtpPeerClosed;
      case TlsStatus::kOther:
        break;
    }
    FtpLog("ERROR: SSL_read returned code %d.", result.code);
    CloseLocked();
    return kFtpRecvError;
  }
  long got = SockRecv(fd, buffer, static_cast<size_t>(length));
  if (got > 0) return static_cast<int>(got);
  if (got == 0) {
    CloseLocked();
    return kFtpPeerClosed;
  }
  const int error = LastSocketError();
  if (error == kWsaEWouldBlock) return 0;
  FtpLog("recv() returned error code %d.", error);
  if (error == kWsaEConnReset && GetFTP_IgnoreConnReset()) return 0;
  CloseLocked();
  return kFtpRecvError;
}

int FtpSocket::Send(const void* buffer, int length, int timeoutSeconds) {
  std::lock_guard<std::mutex> sending(send_mutex_);
  return SendLocked(static_cast<const char*>(buffer), length, timeoutSeconds);
}

int FtpSocket::SendLocked(const char* data, int length, int timeoutSeconds) {
  // Nothing to send; a TLS write of no bytes would read as a failure.
  if (length <= 0) return 0;
  const int timeout = timeoutSeconds < 0 ? timeout_ms_ : timeoutSeconds * 1000;
  int64_t lastProgress = env_.NowMs();
  int sent = 0;
  for (;;) {
    if (!Running()) return sent;
    int progress = 0;
    int fd;
    // What to wait for when nothing moved: room on the socket, input (a
    // TLS write that must read first), or only the time-out (a reset
    // connection that the setting says to ignore: the socket would report
    // ready at once for ever).
    enum class Stall { kWrite, kRead, kTimeOnly } stall = Stall::kWrite;
    {
      std::lock_guard<std::mutex> lock(tls_mutex_);
      fd = handle_;
      if (fd < 0) return kFtpRecvError;
      if (tls_) {
        TlsResult result = env_.TlsWrite(*tls_, data + sent, length - sent);
        if (result.status == TlsStatus::kOk) {
          progress = result.bytes;
        } else if (result.status == TlsStatus::kWantRead) {
          stall = Stall::kRead;
        } else if (result.status != TlsStatus::kWantWrite) {
          CloseLocked();
          return kFtpRecvError;
        }
      } else {
        long put = env_.Send(fd, data + sent, static_cast<size_t>(length - sent));
        if (put >= 0) {
          progress = static_cast<int>(put);
        } else {
          const int error = LastSocketError();
          if (error == kWsaEConnReset && GetFTP_IgnoreConnReset()) {
            stall = Stall::kTimeOnly;
          } else if (error != kWsaEWouldBlock) {
            CloseLocked();
            return kFtpRecvError;
          }
        }
      }
    }
    const int64_t now = env_.NowMs();
    if (progress > 0) lastProgress = now;
    if (progress == 0 && Expired(timeout, lastProgress, now)) return kFtpTimedOut;
    sent += progress;
    if (sent >= length) return sent;
    if (progress > 0) continue;
    // Waits for room instead of retrying at once; the time-out still runs
    // from the last progress.
    const int wait = WaitMs(LeftMs(timeout, lastProgress, now), env_);
    if (stall == Stall::kTimeOnly) {
      WaitSocket(-1, false, WakeFd(), wait);
    } else {
      WaitSocket(fd, stall == Stall::kWrite, WakeFd(), wait);
    }
  }
}

FtpSocket::Ready FtpSocket::WaitForInput(int timeoutMs) {
  int fd;
  bool forWrite;
  {
    std::lock_guard<std::mutex> lock(tls_mutex_);
    fd = handle_;
    if (fd < 0) return Ready::kReady;  // the receive reports it
    // Bytes the TLS layer holds never show on the socket: decrypted ones,
    // or whole records read ahead. Part of a record is not input: a peer
    // that sent three bytes of one and stopped would otherwise make every
    // wait return at once, for ever (a busy loop before any login).
    if (tls_ && (tls_->Decrypted() > 0 || tls_end_read_ || (tls_->Buffered() && !tls_partial_))) {
      return Ready::kReady;
    }
    forWrite = read_wants_write_;
  }
  switch (WaitSocket(fd, forWrite, WakeFd(), timeoutMs)) {
    case WaitResult::kReady:
      return Ready::kReady;
    case WaitResult::kTimedOut:
      return Ready::kTimedOut;
    case WaitResult::kStopped:
      break;
  }
  return Ready::kStopped;
}

int FtpSocket::LineRecv(char* buffer, int size) {
  if (size < 1) return kFtpRecvError;
  // Not cleared: an idle session's block stays untouched memory, which the
  // system does not back until a line arrives.
  const size_t workSize = pending_.size() + static_cast<size_t>(size);
  const std::unique_ptr<char[]> workBlock = std::make_unique_for_overwrite<char[]>(workSize);
  char* const work = workBlock.get();
  std::memcpy(work, pending_.data(), pending_.size());
  size_t n = pending_.size();
  pending_.clear();
  size_t scanned = 0;
  const int64_t start = env_.NowMs();
  auto lineEnd = [&]() -> size_t {
    for (; scanned < n; ++scanned) {
      if (work[scanned] == '\r' || work[scanned] == '\n') return scanned;
    }
    return std::string::npos;
  };

  size_t end = std::string::npos;
  for (;;) {
    if (n > 0) {
      end = lineEnd();
      if (end != std::string::npos) break;
      if (n > static_cast<size_t>(size) - 1) return kFtpRecvError;  // line too long
    }
    const int64_t now = env_.NowMs();
    if (!Running() || Expired(timeout_ms_, start, now)) {
      // Time-out or stop: the partial line waits for the next call.
      pending_.assign(work, n);
      return kFtpTimedOut;
    }
    // Waits for data (or the stop) up to what remains of the time-out,
    // instead of a readiness poll and a 10 ms sleep per pass.
    if (n < workSize &&
        WaitForInput(WaitMs(LeftMs(timeout_ms_, start, now), env_)) == Ready::kReady) {
      int got = Recv(work + n, static_cast<int>(workSize - n));
      if (got < 0) return got;
      n += static_cast<size_t>(got);
    }
    if (lineEnd() == std::string::npos && IsClosed()) return kFtpPeerClosed;
  }

  if (end > static_cast<size_t>(size) - 1) return kFtpRecvError;
  std::memcpy(buffer, work, end);
  buffer[end] = '\0';
  size_t consumed = end + 1;
  if (work[end] == '\r' && consumed < n && work[consumed] == '\n') ++consumed;
  if (consumed < n) pending_.assign(work + consumed, n - consumed);
  if (end >= 1 && FtpLogEnabled()) {
    // Deliberately masked: access codes and answers never reach the log.
    const bool password = end >= 4 && (buffer[0] | 0x20) == 'p' && (buffer[1] | 0x20) == 'a' &&
                          (buffer[2] | 0x20) == 's' && (buffer[3] | 0x20) == 's';
    FtpLog("LineRecv:%s", password ? "PASS ****" : buffer);
  }
  return static_cast<int>(end);
}

int FtpSocket::LineSend(const char* text, int timeoutSeconds) {
  if (text == nullptr) text = "";
  if (FtpLogEnabled()) FtpLog("LineSend:%s", text);
  std::string line(text, strnlen(text, kLineSendMax));
  line += "\r\n";
  std::lock_guard<std::mutex> sending(send_mutex_);
  return SendLocked(line.data(), static_cast<int>(line.size()), timeoutSeconds);
}

bool FtpSocket::RecvBinaryFile(ReceivedFileWriter* writer) {
  // Each receive takes whatever the kernel holds, up to the room left, and
  // the writer gets the bytes in blocks of up to half a megabyte: a write
  // per receive would cost more than the receive itself. Nothing is held
  // back while the stream waits: whatever arrived is written before each
  // wait.
  constexpr size_t kGathered = 512 * 1024;
  constexpr size_t kSmallestReceive = 64 * 1024;
  constexpr int kGatherWaitMs = 5;
  const std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kGathered);
  size_t held = 0;
  auto handOn = [&]() {
    const bool kept = held == 0 || writer->Write(buffer.get(), static_cast<uint32_t>(held));
    held = 0;
    return kept;
  };
  int64_t lastData = env_.NowMs();
  int64_t total = 0;  // a stored file may pass 2 GiB
  for (;;) {
    // A stream cut short by the server's stop is not a complete file: the
    // client never hears 226 for it and sends it again, so it must not be
    // handed on as received (the original counted it as complete).
    if (!Running()) return false;
    if (handle_ < 0) return handOn();
    // Receives first and waits only when nothing is there (a wait for
    // readiness, up to the time-out since the last data, instead of
    // polling every millisecond).
    const int got = Recv(buffer.get() + held, static_cast<int>(kGathered - held));
    if (got > 0) {
      lastData = env_.NowMs();
      total += got;
      held += static_cast<size_t>(got);
      if (held + kSmallestReceive > kGathered && !handOn()) return false;
      continue;
    }
    if (got == kFtpPeerClosed) return handOn();
    if (got == kFtpRecvError) {
      FtpLog("error - recvBinaryFile aborted in %lld bytes.", static_cast<long long>(total));
      return false;
    }
    // The kernel is drained. A sender in full flow refills it within a
    // moment: a little is gathered before it is written, so the file gets
    // large writes rather than one per wake-up. Whatever came is written
    // before any longer wait.
    if (held < kSmallestReceive && WaitForInput(kGatherWaitMs) == Ready::kReady) continue;
    if (!handOn()) return false;
    if (Expired(timeout_ms_, lastData, env_.NowMs())) {
      FtpLog("timeout - recvBinaryFile aborted in %lld bytes.", static_cast<long long>(total));
      return false;
    }
    WaitForInput(WaitMs(LeftMs(timeout_ms_, lastData, env_.NowMs()), env_));
  }
}

bool FtpSocket::IsClosed() {
  std::lock_guard<std::mutex> lock(tls_mutex_);
  if (handle_ < 0) return true;
  if (!watch_close_) return false;
  // The peer's close is reported as soon as the kernel knows of it, even
  // with data still unread, as the close event of the original platform
  // did; nothing is consumed.
  if (PeerHasClosed(handle_)) {
    FtpLog("isClosed() detected FD_CLOSE");
    CloseLocked();
  }
  return handle_ < 0;
}

std::string FtpSocket::LocalAddressText() const { return DottedAddress(local_address_); }
std::string FtpSocket::PeerAddressText() const { return DottedAddress(peer_address_); }

uint32_t FtpSocket::PeerAddress() const {
  const uint8_t bytes[4] = {
      static_cast<uint8_t>(peer_address_ >> 24), static_cast<uint8_t>(peer_address_ >> 16),
      static_cast<uint8_t>(peer_address_ >> 8), static_cast<uint8_t>(peer_address_)};
  uint32_t network;
  std::memcpy(&network, bytes, sizeof network);
  return network;
}

std::unique_ptr<TlsContext> CreateSslContext(const char* keyPath, const char* passPhrase,
                                             const char* certificatePath,
                                             void (*logger)(const char*), std::string* error) {
  char minVersion[8];
  GetFTPS_MinTLSVersion(minVersion, sizeof minVersion);
  auto context = TlsContext::NewServer(minVersion);
  if (!context || keyPath == nullptr) return context;
  // Deliberately more than the original's bare "Couldn't read ... file":
  // the file and OpenSSL's reason, so a wrong path, a bad file and a key
  // of another certificate can be told apart.
  auto fail = [&](const char* what, const char* path, const std::string& reason) {
    const std::string text = std::string("Couldn't read ") + what + " file " + path + ": " + reason;
    if (logger != nullptr) logger(text.c_str());
    if (error != nullptr) *error = text;
  };
  std::string reason;
  const char* certificate = certificatePath != nullptr ? certificatePath : keyPath;
  if (!context->UseCertificateFile(certificate, &reason)) {
    fail("certificate", certificate, reason);
    return nullptr;
  }
  if (!context->UsePrivateKeyFile(keyPath, passPhrase, &reason)) {
    fail("key", keyPath, reason);
    return nullptr;
  }
  return context;
}

namespace {

// The log file named by FTP_DebugLog when the first line is logged; later
// changes of the setting wait for the next start.
const std::string& FtpLogPath() {
  static const std::string path = [] {
    char buffer[260] = "";
    GetFTP_DebugLog(buffer, sizeof buffer);
    return std::string(buffer);
  }();
  return path;
}

std::mutex g_log_mutex;

}  // namespace

bool FtpLogEnabled() { return !FtpLogPath().empty(); }

void FtpLog(const char* format, ...) {
  if (!FtpLogEnabled()) return;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);

  const LocalDateTime now = CurrentLocalTime();
  char stamp[80];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  // One open and close per line, as the log has always been kept; the lock
  // only keeps two threads' lines from mixing.
  std::lock_guard<std::mutex> lock(g_log_mutex);
  // Deliberately bounded and private (the original grew without end and
  // was readable by all): the trace's size limit, mode 0640.
  std::FILE* file = OpenBoundedLog(FtpLogPath(), kTraceFileMax);
  if (file == nullptr) return;
  std::fprintf(file, "%s %s\n", stamp, text.c_str());
  std::fclose(file);
}

namespace {

// Length of the character at `text`: two bytes for a lead byte of code
// page 932 (when that is the code page) followed by a trail byte.
size_t CharLength(const char* text, bool doubleByte) {
  const auto byte = static_cast<unsigned char>(*text);
  const bool lead =
      doubleByte && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
  return lead && text[1] != '\0' ? 2 : 1;
}

}  // namespace

const char* FindLastByte(const char* text, char byte) {
  if (text == nullptr) return nullptr;
  const bool doubleByte = AnsiCodePage() == kCodePageJapanese;
  const char* found = nullptr;
  for (const char* at = text; *at != '\0'; at += CharLength(at, doubleByte)) {
    if (*at == byte) found = at;
  }
  return found;
}

const char* FindFirstByte(const char* text, char byte) {
  if (text == nullptr) return nullptr;
  const bool doubleByte = AnsiCodePage() == kCodePageJapanese;
  for (const char* at = text; *at != '\0'; at += CharLength(at, doubleByte)) {
    if (*at == byte) return at;
  }
  return nullptr;
}

}  // namespace qb
