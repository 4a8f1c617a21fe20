#include "app/startup.h"

#include <cstring>
#include <memory>

#include "app/config_link.h"
#include "app/main_window.h"
#include "app/process_state.h"
#include "app/service_link.h"
#include "app/tray.h"
#include "config/folders.h"
#include "config/scanner_list.h"
#include "config/settings.h"
#include "ftp/ftp_server.h"
#include "platform/endpoint.h"
#include "platform/instance_lock.h"
#include "platform/svc_ctrl.h"
#include "platform/system_log.h"
#include "platform/trace.h"
#include "scanproto/connection_server.h"
#include "storage/disk_space.h"
#include "storage/receive_log.h"

namespace qb {
namespace {

// The command line selects service mode only when it is exactly "QBXSVC".
bool IsServiceCommandLine(int argc, char** argv) {
  return argc == 2 && std::strcmp(argv[1], "QBXSVC") == 0;
}

void StartFtpIfEnabled(bool serviceMode) {
  if (GetFTP_Support() != 0 || GetFTPS_Support() != 0) StartFtpServer(GetFtpPort(), serviceMode);
}

ScanServerHooks MakeServerHooks(uint32_t mainWindow) {
  ScanServerHooks hooks;
  hooks.notifyConfig = [](uint32_t message, int64_t code) {
    NotifyConfig(message, static_cast<int>(code));
  };
  hooks.receiveEndSignal = [] { ReceiveEndSignal(); };
  hooks.startNameService = [mainWindow](Window*) { StartAddressMonitor(mainWindow); };
  return hooks;
}

// Disk word at start: from the free percentage of the CONF folder's volume.
uint16_t InitialHddState() {
  return static_cast<uint16_t>(EstimateDiskStateByPercent(GetFreePercent(ConfFolder()), GetHDD()));
}

}  // namespace

int RunProgram(int argc, char** argv) {
  ProcessState& process = Process();
  process.serviceLaunched = IsServiceCommandLine(argc, argv);

  if (!process.serviceLaunched) {
    InstanceLock lock = AcquireInstanceLock("QeurnComm main");
    if (lock == InstanceLock::kAlreadyHeld) {
      ShowMessageBox("Quillbox is Already running", "Error");
      return 0;
    }
    if (lock == InstanceLock::kFailed) return 0;
  }

  LocateSettingsFile();
  InitTempFolder();

  EventLoop loop;
  MainWindow mainWindow(loop);
  auto endpoint = std::make_unique<WindowEndpoint>(loop, &mainWindow);
  if (!endpoint->ok()) return 0;
  endpoint->RegisterClass("MENU");
  process.mainWindowHandle = endpoint->handle();

  SetTraceMode(GetTrace());
  InitConfFolder();

  // The companion service ends the service instance with SIGTERM (its
  // message 32778); elsewhere a termination signal closes as tray "Close".
  // Watched before any thread starts, so that every thread has them blocked.
  loop.WatchTerminationSignals([&](int) {
    if (process.serviceLaunched) {
      mainWindow.HandleMessage(kMsgServiceEnd, 0, 0);
    } else {
      mainWindow.HandleMessage(WM_COMMAND, kCmdTrayClose, 0);
    }
  });

  bool serverFailed = false;

  if (process.serviceLaunched) {
    serverFailed =
        !StartCommunication(loop, &mainWindow, MakeServerHooks(process.mainWindowHandle));
    TraceLog(" Service QBX Start !!!");
    if (GetOsGeneration() == 2) startPipeSvr(process.mainWindowHandle);
    process.processMode = kModeService;
    StartFtpIfEnabled(true);
  } else {
    int startType = 0, error = 0;
    if (QueryCompanionStartType(&startType, &error)) {
      process.processMode = kModeDesktop;
      TraceLog(" Desktop QBX Start !!!(%d)", getConnectCounter());
      StartServiceCheck(process.mainWindowHandle);
    } else if (error == 1060 || error == 120) {
      serverFailed =
          !StartCommunication(loop, &mainWindow, MakeServerHooks(process.mainWindowHandle));
      process.processMode = kModeNormal;
      TraceLog(" Normal QBX Start !!!");
      StartFtpIfEnabled(false);
    }
  }

  loop.PostMessage(&mainWindow, WM_COMMAND, kCmdOk, 0);
  ClearScannerEntries();
  process.hddState = InitialHddState();
  if (!process.serviceLaunched) {
    OpenConfigLink(process.mainWindowHandle, process.commState, process.hddState);
  }

  int code = loop.Run();
  StopCommunication();
  loop.RemoveWindow(&mainWindow);
  // A receiver that could not listen says so and ends with a failure code
  // (the main window has already shut everything down).
  if (serverFailed) {
    ShowMessageBox("The scan ports 37100/37101 cannot be opened.", "Quillbox");
    return 1;
  }
  return code;
}

}  // namespace qb
