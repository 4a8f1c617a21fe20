// The hidden main window: the receiver of connection news, tray and
// user commands, and the place where the program shuts down.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "ftp/scanner_ftp_server.h"
#include "interop/window_messages.h"
#include "platform/event_loop.h"
#include "platform/worker_pool.h"
#include "scanproto/scan_server.h"
#include "storage/receiver_events.h"

namespace qb {

// Main-window messages and command ids.
constexpr uint32_t kMsgConnectOpen = 2001;
constexpr uint32_t kMsgConnectClose = 2003;
constexpr uint32_t kMsgServiceState = 2004;
constexpr uint32_t kMsgTrayIcon = WM_USER + 10;
constexpr uint32_t kMsgPipeText = WM_USER + 500;
constexpr uint32_t kMsgServiceEnd = 32778;  // the companion service ends the service instance
constexpr uint32_t kCmdExit = 1002;
constexpr uint32_t kCmdOk = 1013;
constexpr uint32_t kCmdOpen = 1014;
constexpr uint32_t kCmdTray = 1015;
constexpr uint32_t kCmdLogList = 1026;
constexpr uint32_t kCmdNewFile = 40003;
constexpr uint32_t kCmdTrayClose = 40004;
constexpr uint32_t kCmdConfiguration = 40006;
constexpr uint32_t kCmdServiceStart = 40007;
constexpr uint32_t kCmdServiceStop = 40008;

class MainWindow final : public Window {
 public:
  explicit MainWindow(EventLoop& loop);
  // Messages from other processes (through the window's endpoint) and the
  // window's own queued ones.
  int64_t HandleMessage(uint32_t message, uint64_t wParam, int64_t lParam) override;

  // Starts the program's scan server and, once it listens, the name
  // service and the address-change monitor, which re-announces our name
  // through `ownHandle`'s loop. False when the scan ports cannot be opened
  // (the window has then been told through `startFailed`).
  bool StartScanServer(uint32_t ownHandle);
  // What both servers tell the program (see ReceiverEvents); calls from
  // other threads are posted to the loop.
  ReceiverEvents Events();
  // Starts the scanner FTP server on `port` (once).
  bool StartFtpServer(int port, bool serviceMode);

 private:
  void OnCommand(uint32_t id, int64_t lParam);
  void OnConnectionChange(bool opened);
  void Shutdown();
  // Runs a service-manager command off the main thread, then `then` on it.
  void RunServiceCommand(std::function<void()> command, std::function<void()> then);

  EventLoop& loop_;
  // One at a time, in the order the user chose them.
  WorkerPool serviceCommands_{1};
  bool destroyed_ = false;
  // The program's one scan server; started in normal and service mode only.
  ScanServer scanServer_;
  std::unique_ptr<ScannerFtpServer> ftpServer_;
};

// Service mode: the scan-protocol and FTP connection states (16/17) are
// combined (17 if either is 17) and handed to the service library when the
// combination changes. Any thread.
void SetScanConnectionState(uint16_t state);
void SetFtpConnectionState(uint16_t state);

}  // namespace qb
