// The data connection of one FTP session: the passive listener (PASV) or
// the active connection (PORT), and each transfer (LIST, NLST, STOR) run on
// a thread of its own so the command loop stays free for ABOR and QUIT.
// The transfer's 150, 226 and 426 replies go out on the control socket from
// that thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ftp/ftp_socket.h"
#include "ftp/save_file.h"
#include "platform/stop_signal.h"

namespace qb {

class FtpServer;
class FtpSession;

// Passive data ports.
constexpr uint16_t kPassivePortFirst = 9822;
constexpr int kPassivePortCount = 1000;


enum FtpTransferMode : int { kTransferList = 0, kTransferStor = 1, kTransferNlst = 3 };

class FtpDataConnection {
 public:
  FtpDataConnection(FtpSession* session, FtpSocket* control);
  // Aborts and waits for a running transfer, then closes both sockets.
  ~FtpDataConnection();
  FtpDataConnection(const FtpDataConnection&) = delete;
  FtpDataConnection& operator=(const FtpDataConnection&) = delete;

  // PASV: true once the 227 reply has been sent.
  bool Passive();
  // PORT: true once the data socket is connected.
  bool Active(const char* line);
  // Starts a transfer thread, after the previous one has ended. For STOR
  // the session sends the 150 reply itself and then calls Announced(), so
  // the transfer's own reply never overtakes it; `file` (STOR only) takes
  // the bytes.
  void StartTransfer(int mode, const char* path, const char* argument,
                     std::unique_ptr<SaveFile> file);
  void Announced();
  // Ends a transfer that still waits for its passive connection, and waits
  // until any transfer has ended. `dropData` (ABOR) also closes an open
  // data connection at once; whatever came over it is not a file.
  void AbortAndWait(bool dropData = false);
  bool HasDataPath();
  void SetType(int type) { type_ = type; }
  const char* TypeName() const;
  bool failed() const { return failed_.load(); }
  bool Busy();

 private:
  struct Transfer;
  // A passive listener and the per-address slot it holds.
  struct PassiveListener {
    ~PassiveListener();
    std::unique_ptr<FtpSocket> socket;
    FtpServer* server = nullptr;
    uint32_t address = 0;
  };
  enum class PassiveWait { kAccepted, kTimedOut, kAborted };
  void RunTransfer(std::shared_ptr<Transfer> transfer);
  PassiveWait AcceptPassive(Transfer& transfer);
  void WaitUntilAnnounced(Transfer& transfer);
  void EndTransfer();

  FtpSession* session_;
  FtpSocket* control_;
  int type_ = 0;
  std::atomic<bool> failed_{false};

  std::mutex mutex_;
  std::condition_variable ended_;
  bool busy_ = false;
  std::shared_ptr<Transfer> current_;
  // Owned here; a running transfer borrows them until it ends.
  std::unique_ptr<FtpSocket> data_socket_;
  std::unique_ptr<PassiveListener> passive_listener_;
};

}  // namespace qb
