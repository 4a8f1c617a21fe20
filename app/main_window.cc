#include "app/main_window.h"

#include <chrono>
#include <thread>
#include <utility>

#include "app/config_link.h"
#include "app/process_state.h"
#include "app/service_link.h"
#include "app/tray.h"
#include "config/folders.h"
#include "config/scanner_list.h"
#include "ftp/save_file.h"
#include "interop/svc_ctrl.h"
#include "interop/window_endpoint.h"
#include "interop/window_messages.h"
#include "nameservice/name_service.h"
#include "platform/file_lookup.h"
#include "platform/global_lock.h"
#include "platform/trace.h"
#include "scanproto/access_lock.h"
#include "storage/receive_log.h"

namespace qb {
namespace {

constexpr uint64_t kTrayIconId = 101;
constexpr int64_t kLeftDoubleClick = 0x0203;
constexpr int64_t kRightButtonDown = 0x0204;

uint16_t g_scan_state = kCommIdle;
uint16_t g_ftp_state = kCommIdle;
uint16_t g_published_state = kCommIdle;

void PublishCombinedState() {
  uint16_t combined = g_scan_state == kCommBusy || g_ftp_state == kCommBusy ? kCommBusy : kCommIdle;
  if (combined == g_published_state) return;
  g_published_state = combined;
  setCommState(combined);
}

// Starting or stopping the service waits for the service manager, and the
// service is given 200 ms to settle after it; both happen on a worker, and
// what follows runs back on the main thread.
void PauseForService() { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }

}  // namespace

void SetScanConnectionState(uint16_t state) {
  GlobalLockGuard lock;
  g_scan_state = state;
  PublishCombinedState();
}

void SetFtpConnectionState(uint16_t state) {
  GlobalLockGuard lock;
  g_ftp_state = state;
  PublishCombinedState();
}

int64_t MainWindow::HandleMessage(uint32_t message, uint64_t wParam, int64_t lParam) {
  ProcessState& process = Process();
  switch (message) {
    case WM_DESTROY:
      Shutdown();
      return 0;
    case WM_CLOSE:
      Shutdown();  // a closed main window is destroyed
      return 0;
    case WM_COMMAND:
      OnCommand(static_cast<uint32_t>(wParam & 0xFFFF), lParam);
      return 0;
    case kMsgConnectOpen:
      OnConnectionChange(true);
      return 0;
    case kMsgConnectClose:
      OnConnectionChange(false);
      return 0;
    case kMsgServiceState:
      process.commState = static_cast<uint16_t>(wParam);
      PublishCommState(process.commState);
      if (getSvcJobNum() > 0) {
        NotifyConfigCount(WM_CONFIG_STATUS, kStatusConnected, getSvcJobNum());
      } else {
        NotifyConfig(WM_CONFIG_STATUS, kStatusIdle);
      }
      return 0;
    case kMsgTrayIcon:
      if (wParam == kTrayIconId && lParam == kLeftDoubleClick) LaunchConfigProgram();
      if (wParam == kTrayIconId && lParam == kRightButtonDown) ShowTrayMenu();
      return 0;
    case kMsgPipeText:
      // From another process the pointer means nothing: only the number is traced.
      TraceLog(" Pipe MSG:%lld", static_cast<long long>(lParam));
      return 0;
    case kMsgServiceEnd:
      if (process.serviceLaunched) Shutdown();
      return 0;
    default:
      return 0;
  }
}

MainWindow::MainWindow(EventLoop& loop)
    : loop_(loop), scanServer_(loop, loop.env(), Events(), DocumentWorkRunner{}) {}

bool MainWindow::StartScanServer(uint32_t ownHandle) {
  if (!scanServer_.Start()) return false;
  NameServiceOptions nameService;
  nameService.ownName = scanServer_.LocalHostName();
  // Service mode: the host table is written at each new printer, not only
  // at exit (a service may be ended without one).
  nameService.saveEachRecord = Process().serviceLaunched;
  OpenNameService(loop_, std::move(nameService));
  // The monitor's thread hands the announcement to the loop that owns the
  // host list.
  StartAddressMonitor(ownHandle, [] { RequestAnnounceToHosts(); });
  return true;
}

// One set for both ways in. What a document or the disk state tells the
// program may come from an FTP session's thread, so it is posted to the
// main loop; the scan server's connection events come on the loop itself.
ReceiverEvents MainWindow::Events() {
  ReceiverEvents events;
  EventLoop* loop = &loop_;
  events.connectionOpened = [this] { OnConnectionChange(true); };
  events.connectionClosed = [this] { OnConnectionChange(false); };
  events.startFailed = [this] { OnCommand(kCmdExit, 0); };
  events.connectionState = [](uint16_t state) { SetFtpConnectionState(state); };
  events.classifyPeer = [](const char* ipText) { return ClassifyPeer(ipText); };
  events.trayState = [this, loop](int state) { loop->Post([this, state] { OnCommand(kCmdTray, state); }); };
  events.notifyConfig = [loop](uint32_t message, int64_t code) {
    loop->Post([message, code] { NotifyConfig(message, static_cast<int>(code)); });
  };
  events.receiveEndSignal = [loop] { loop->Post([] { SignalReceiveEnd(); }); };
  events.newFileNotice = [this, loop] { loop->Post([this] { OnCommand(kCmdNewFile, 0); }); };
  return events;
}

bool MainWindow::StartFtpServer(int port, bool serviceMode) {
  if (ftpServer_ != nullptr) return true;
  // Deliberately cleaned at start (the original never did): temporary
  // files of stored files that a crash left behind are nobody's now, and
  // only this one receiver runs on the machine.
  const int removed = RemoveTempFilesWithPrefix(TempFolderPath(), kReceivedFileTempPrefix);
  if (removed > 0) TraceLog("FTP start: removed %d leftover temporary file(s).", removed);
  ftpServer_ = std::make_unique<ScannerFtpServer>(Events(), loop_.env());
  ftpServer_->SetPort(port);
  return ftpServer_->Start(serviceMode ? 1 : 0);
}

void MainWindow::OnCommand(uint32_t id, int64_t lParam) {
  ProcessState& process = Process();
  switch (id) {
    case kCmdExit:
      if (process.processMode == kModeDesktop) {
        RunServiceCommand([] { StopCompanionService(); }, [this] {
          loop_.PostMessage(this, WM_DESTROY, 0, 0);
        });
        break;
      }
      loop_.PostMessage(this, WM_DESTROY, 0, 0);
      break;
    case kCmdOk:
      ShowTrayIcon(true);
      PublishHddState(process.hddState);
      break;
    case kCmdOpen:
      ShowTrayIcon(false);
      LaunchConfigProgram();
      break;
    case kCmdTray:
      SetTrayIconState(static_cast<int>(lParam));
      process.hddState = HddStateOfIcon(static_cast<int>(lParam));
      PublishHddState(process.hddState);
      NotifyConfigDisk(WM_CONFIG_STATUS, static_cast<int>(lParam));
      break;
    case kCmdLogList:
      if (lParam == 1) {
        TrimReceiveLog(loop_.env());
        if (process.quitOnLogList) Shutdown();
      } else if (lParam == 2) {
        if (process.processMode != kModeDesktop) process.quitOnLogList = true;
      } else if (lParam == 3) {
        process.menuDisabled = true;
      } else if (lParam == 4) {
        process.menuDisabled = false;
      }
      break;
    case kCmdNewFile:
      ShowNewFileWindow();
      break;
    case kCmdTrayClose:
      if (process.processMode == kModeDesktop) {
        auto stopped = std::make_shared<bool>(false);
        RunServiceCommand(
            [stopped] {
              *stopped = StopCompanionService();
              if (*stopped) NotifyConfig(WM_CONFIG_STATUS, kStatusServiceStoppedBeforeClose);
            },
            [this, stopped] {
              if (*stopped) Shutdown();  // WM_CLOSE on the main window
            });
        break;
      }
      Shutdown();  // WM_CLOSE on the main window
      break;
    case kCmdConfiguration:
      LaunchConfigProgram();
      break;
    case kCmdServiceStart: {
      const bool desktop = process.processMode == kModeDesktop;
      RunServiceCommand(
          [desktop] {
            StartCompanionService();
            if (desktop) NotifyConfig(WM_CONFIG_STATUS, kStatusServiceStarted);
          },
          [] {});
      break;
    }
    case kCmdServiceStop: {
      const bool desktop = process.processMode == kModeDesktop;
      RunServiceCommand(
          [desktop] {
            StopCompanionService();
            if (desktop) NotifyConfig(WM_CONFIG_STATUS, kStatusServiceStopped);
          },
          [] { ShowTrayIcon(false); });
      break;
    }
    default:
      break;
  }
}

void MainWindow::RunServiceCommand(std::function<void()> command, std::function<void()> then) {
  serviceCommands_.Run(
      loop_,
      [command = std::move(command)] {
        command();
        PauseForService();
      },
      std::move(then));
}

void MainWindow::OnConnectionChange(bool opened) {
  ProcessState& process = Process();
  int jobs = scanServer_.JobCount();
  if (opened) {
    process.commState = kCommBusy;
  } else if (process.processMode == kModeDesktop) {
    process.commState = getSvcJobNum() < 1 ? kCommIdle : kCommBusy;
  } else {
    process.commState = jobs < 1 ? kCommIdle : kCommBusy;
  }
  if (process.processMode == kModeService) {
    SetScanConnectionState(process.commState);
    setSvcJobNum(jobs);
    TraceLog(
        opened ? " SetSvcJobNum() Set=%d Result=%d" : " IDC_CONNECT_CLOSE() SetJobNum=%d Result=%d",
        jobs, getSvcJobNum());
  }
  PublishCommState(process.commState);
  if (opened) {
    NotifyConfigCount(WM_CONFIG_STATUS, kStatusConnected, jobs);
  } else {
    NotifyConfig(WM_CONFIG_STATUS, kStatusIdle);
  }
}

void MainWindow::Shutdown() {
  if (destroyed_) return;
  destroyed_ = true;
  ProcessState& process = Process();
  StopAddressMonitor();
  CloseNameService();  // saves the host table
  scanServer_.Stop();  // closes every connection
  // Ends every FTP session and waits for the server's threads.
  ftpServer_.reset();
  ClearScannerEntries();
  NotifyConfig(WM_CONFIG_STATUS, kStatusIdle);
  ReleaseConfigLink();
  if (uint32_t fax = FindWindowByClass("TVFAXRCVHANDLE2QBX")) {
    NotifyWindow(fax, WM_USER + 5, 0, 0);
  }
  if (process.processMode == kModeDesktop) {
    StopServiceCheck();
  } else if (process.processMode == kModeService) {
    setSvcJobNum(0);
    setCommState(kCommIdle);
    if (GetOsGeneration() == 2) stopPipeSvr();
  }
  RemoveTrayIcon();
  loop_.Quit(0);
}

}  // namespace qb
