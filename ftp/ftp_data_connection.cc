#include "ftp/ftp_data_connection.h"

#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "ftp/ftp_commands.h"
#include "ftp/ftp_server.h"
#include "ftp/ftp_session.h"
#include "ftp/save_file.h"
#include "platform/detached_thread.h"
#include "platform/net.h"
#include "platform/trace.h"

namespace qb {

// What one transfer thread works with. The sockets move here when the
// transfer starts, so a PASV sent while it runs makes a listener of its own
// and the transfer's clean-up closes only what it used.
struct FtpDataConnection::Transfer {
  int mode = kTransferList;
  std::string path;
  std::string argument;
  std::unique_ptr<SaveFile> file;  // STOR: where the bytes go
  std::unique_ptr<PassiveListener> listener;
  std::unique_ptr<FtpSocket> socket;  // set under mutex_: ABOR closes it
  StopSignal abort;         // raised to end the wait for a passive connection
  bool announced = false;   // the session's 150 has gone out (guarded by mutex_)
  std::atomic<bool> aborted{false};  // ABOR: whatever came is not a file
};

FtpDataConnection::PassiveListener::~PassiveListener() {
  socket.reset();
  server->ReleasePassivePort(address);
}

FtpDataConnection::FtpDataConnection(FtpSession* session, FtpSocket* control)
    : session_(session), control_(control) {}

FtpDataConnection::~FtpDataConnection() {
  AbortAndWait();
  std::lock_guard<std::mutex> lock(mutex_);
  passive_listener_.reset();
  data_socket_.reset();
}

const char* FtpDataConnection::TypeName() const { return type_ == 1 ? "BINARY" : "ASCII"; }

bool FtpDataConnection::Busy() {
  std::lock_guard<std::mutex> lock(mutex_);
  return busy_;
}

bool FtpDataConnection::HasDataPath() {
  std::lock_guard<std::mutex> lock(mutex_);
  return passive_listener_ != nullptr || data_socket_ != nullptr;
}

bool FtpDataConnection::Passive() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    passive_listener_.reset();
  }
  FtpServer* server = session_->server();
  const uint32_t peer = control_->PeerAddress();
  // Deliberately bounded per client address (the original let every PASV
  // hold a port): a few clients cannot take the whole range.
  if (!server->TakePassivePort(peer)) {
    TraceLog("FTP PASV refused for %s: it already holds %d passive ports.",
             control_->PeerAddressText().c_str(), kMaxPassivePortsPerAddress);
    return false;
  }
  auto listener = std::make_unique<PassiveListener>();
  listener->server = server;
  listener->address = peer;
  listener->socket = std::make_unique<FtpSocket>(server->running(), server->env());
  uint16_t port = 0;
  for (int i = 0; i < kPassivePortCount; ++i) {
    const uint16_t candidate = static_cast<uint16_t>(kPassivePortFirst + i);
    if (listener->socket->Listen(candidate, "INADDR_ANY")) {
      port = candidate;
      break;
    }
  }
  if (port == 0) return false;

  std::string address = control_->LocalAddressText();
  for (char& c : address) {
    if (c == '.') c = ',';
  }
  char reply[128];
  std::snprintf(reply, sizeof reply, "227 Entering Passive Mode (%s,%d,%d)", address.c_str(), port / 256,
                port % 256);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    passive_listener_ = std::move(listener);
  }
  control_->LineSend(reply, kFtpReplySendTimeout);
  return true;
}

bool FtpDataConnection::Active(const char* line) {
  PortTarget target;
  if (!ParsePortArgument(line, &target)) return false;
  // The data connection goes only to the client itself: a PORT naming
  // another host would make this server attack it on the client's behalf.
  uint32_t peer = 0;
  ParseDottedAddress(control_->PeerAddressText().c_str(), &peer);
  if (target.address != peer) return false;

  FtpServer* server = session_->server();
  auto socket = std::make_unique<FtpSocket>(server->running(), server->env());
  const std::string address = DottedAddress(target.address);
  if (socket->Connect(address.c_str(), target.port) != 1) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  data_socket_ = std::move(socket);  // an earlier one is closed
  return true;
}

void FtpDataConnection::StartTransfer(int mode, const char* path, const char* argument,
                                       std::unique_ptr<SaveFile> file) {
  AbortAndWait();
  auto transfer = std::make_shared<Transfer>();
  transfer->mode = mode;
  transfer->file = std::move(file);
  transfer->path = path;
  transfer->argument = argument;
  transfer->announced = mode != kTransferStor;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    transfer->listener = std::move(passive_listener_);
    transfer->socket = std::move(data_socket_);
    busy_ = true;
    failed_ = false;
    current_ = transfer;
  }
  if (!StartDetachedThread(kFtpThreadStackBytes, [this, transfer] { RunTransfer(transfer); })) {
    control_->LineSend("426 Transfer abort.", kFtpReplySendTimeout);
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = false;
    current_.reset();
    ended_.notify_all();
  }
}

void FtpDataConnection::Announced() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (current_) current_->announced = true;
  ended_.notify_all();
}

void FtpDataConnection::AbortAndWait(bool dropData) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (current_) {
    current_->abort.Raise();
    current_->announced = true;
    if (dropData) {
      // ABOR: an open data connection is closed at once, so the transfer
      // ends now rather than at the data socket's time-out.
      current_->aborted = true;
      if (current_->socket != nullptr) current_->socket->Close();
    }
    ended_.notify_all();
  }
  ended_.wait(lock, [this] { return !busy_; });
  if (dropData) {
    data_socket_.reset();
    passive_listener_.reset();
  }
}

FtpDataConnection::PassiveWait FtpDataConnection::AcceptPassive(Transfer& transfer) {
  FtpServer* server = session_->server();
  Env& env = server->env();
  const uint32_t peer = control_->PeerAddress();
  // Deliberately limited (the original waited for ever, holding the
  // session, its thread and its port): a printer that lost its link
  // never connects, and the wait ends at the idle limit.
  const int64_t deadline = env.NowMs() + static_cast<int64_t>(GetFTP_SocketTimeOut()) * 1000;
  for (;;) {
    const int64_t left = deadline - env.NowMs();
    if (left <= 0) return PassiveWait::kTimedOut;
    const int64_t longest = env.LongestWaitMs();
    const int64_t waitMs = longest >= 0 && longest < left ? longest : left;
    const WaitResult waited = WaitSocket(transfer.listener->socket->handle(), false,
                                         server->running()->WakeDescriptor(), static_cast<int>(waitMs),
                                         transfer.abort.Descriptor());
    if (waited == WaitResult::kStopped) return PassiveWait::kAborted;
    if (waited == WaitResult::kTimedOut) continue;
    std::unique_ptr<FtpSocket> accepted = transfer.listener->socket->Accept(0);
    if (accepted == nullptr) continue;
    if (accepted->PeerAddress() != peer) {
      // Deliberately refused: only the client itself may deliver its
      // file; anyone else who finds the port open is turned away.
      TraceLog("FTP passive connection from %s refused: the session's client is %s.",
               accepted->PeerAddressText().c_str(), control_->PeerAddressText().c_str());
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (transfer.aborted) return PassiveWait::kAborted;
    transfer.socket = std::move(accepted);
    FtpLog("PASV accepted.");
    return PassiveWait::kAccepted;
  }
}

void FtpDataConnection::WaitUntilAnnounced(Transfer& transfer) {
  std::unique_lock<std::mutex> lock(mutex_);
  ended_.wait(lock, [&transfer] { return transfer.announced; });
}

void FtpDataConnection::RunTransfer(std::shared_ptr<Transfer> transfer) {
  FtpServer* server = session_->server();
  bool success = false;
  bool ready = true;
  const char* failure = "426 Transfer abort.";
  if (transfer->listener != nullptr) {
    const PassiveWait waited = AcceptPassive(*transfer);
    ready = waited == PassiveWait::kAccepted;
    if (waited == PassiveWait::kTimedOut) failure = "425 Can't open data connection.";
  }
  if (ready && transfer->socket == nullptr) ready = false;
  const bool listing = transfer->mode == kTransferList || transfer->mode == kTransferNlst;

  // A listing's 150 goes out before the data connection's TLS handshake:
  // clients start TLS on the data connection only once they have read it.
  if (ready && listing) {
    char text[128];
    std::snprintf(text, sizeof text, "150 Opening %s mode data connection for ls.", TypeName());
    control_->LineSend(text, kFtpReplySendTimeout);
  }
  if (ready && control_->IsTls()) {
    transfer->socket->CarriesFiles();
    if (!transfer->socket->SslAccept(server->Tls())) ready = false;
  }
  if (ready) {
    transfer->socket->SetTimeout(GetFTP_SocketTimeOut());
    if (listing) {
      success = true;
    } else {
      std::unique_ptr<SaveFile> file = std::move(transfer->file);
      const bool complete = file != nullptr && transfer->socket->RecvBinaryFile(file.get()) &&
                            file->Finish();
      if (complete && !transfer->aborted) {
        success = true;
        SaveFile* received = file.release();
        if (!session_->OnFileReceived(received)) {
          session_->ReceivedFiles().emplace_back(received);
        } else if (session_->TakeFileRefusal()) {
          failure = "552 Meta data storage full.";
          success = false;
        }
      } else if (!transfer->aborted) {
        // Bytes of the file were lost: the session ends at its next beat.
        failed_ = true;
      }
    }
  }

  WaitUntilAnnounced(*transfer);
  control_->LineSend(success ? "226 Transfer complete." : failure, kFtpReplySendTimeout);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    transfer->socket.reset();
  }
  transfer->listener.reset();

  std::lock_guard<std::mutex> lock(mutex_);
  if (current_ == transfer) current_.reset();
  busy_ = false;
  ended_.notify_all();
}

}  // namespace qb
