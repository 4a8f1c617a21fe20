#include "app/startup.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/config_link.h"
#include "app/main_window.h"
#include "app/process_state.h"
#include "app/service_link.h"
#include "app/shared_files.h"
#include "app/tray.h"
#include "config/folders.h"
#include "config/scanner_list.h"
#include "config/settings.h"
#include "interop/svc_ctrl.h"
#include "interop/window_endpoint.h"
#include "interop/window_messages.h"
#include "platform/descriptor_limit.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/local_trust.h"
#include "platform/places.h"
#include "platform/system_log.h"
#include "platform/tls.h"
#include "platform/trace.h"
#include "storage/disk_space.h"
#include "storage/receive_log.h"

namespace qb {
namespace {

// Exit codes besides the message loop's own 0.
constexpr int kExitPortsFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAlreadyRunning = 3;
constexpr int kExitNoRunObjects = 4;

// What the notifications still queued at exit may take: a termination
// signal ends the program within 1 s even when the configuration program
// never answers (the rest of the exit takes a few milliseconds).
constexpr int kNotificationGraceMs = 500;

const char kUsage[] =
    "usage: quillbox [QBXSVC]\n"
    "Receives scanned documents from networked printers (scan protocol on TCP 37100/37101).\n"
    "  (no argument)  normal mode; desktop mode when the QBXSVC.service unit exists\n"
    "  QBXSVC         service mode, as the companion service starts it\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n"
    "Environment: QUILLBOX_ROOT is put in front of every machine-wide place (data folder\n"
    "R/var/lib/Tovira/Quillbox, run-time objects R/run/quillbox); TMP holds page files.\n"
    "Exit codes: 0 ended normally, 1 scan ports cannot be opened, 2 unknown option,\n"
    "3 already running, 4 run-time objects under R/run/quillbox cannot be created.\n";

// The command line selects service mode only when it is exactly "QBXSVC".
bool IsServiceCommandLine(int argc, char** argv) {
  return argc == 2 && std::strcmp(argv[1], "QBXSVC") == 0;
}

// Answers the options, which touch nothing; -1 means start. Words that are
// not options keep their old meaning: anything but "QBXSVC" is a desktop
// start.
int AnswerOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-') continue;
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("quillbox %s\n", QB_VERSION);
      return 0;
    }
    std::fprintf(stderr, "quillbox: unknown option %s (quillbox --help lists the options)\n", arg);
    return kExitUsage;
  }
  return -1;
}

void StartFtpIfEnabled(bool serviceMode, MainWindow& mainWindow) {
  if (GetFTP_Support() != 0 || GetFTPS_Support() != 0) {
    // A port that is no port would otherwise read as 0, a port the system
    // picks, which no printer could know.
    std::string problem;
    if (!StartSettingValid(kSettingFtpPort, &problem)) ShowMessageBox(problem.c_str(), "Quillbox");
    mainWindow.StartFtpServer(GetFtpPort(), serviceMode);
  }
}

// Raw pages are coded into files of the temporary folder before a document
// is assembled: a folder this account cannot write there refuses every raw
// scan, which a person should hear of at start rather than from a printer.
void CheckTempFolder(Env& env) {
  const std::string folder = TempFolderPath();
  const std::string probe = folder + ".qbx-tmp-check-" + std::to_string(CurrentProcessId());
  std::unique_ptr<WritableFile> file;
  const FileResult made = env.NewWritableFile(probe, CreateMode::kNewOnly, &file);
  if (made.ok()) {
    file->Close();
    env.Remove(probe);
    return;
  }
  const std::string text = "The temporary folder " + folder + " cannot take files (" + made.Reason() +
                           "): scans by the raw road are refused until TMP names a folder this account "
                           "may write";
  TraceLog("%s", text.c_str());
  ShowMessageBox(text.c_str(), "Quillbox");
}

// Disk word at start: from the free percentage of the CONF folder's volume.
uint16_t InitialHddState(Env& env) {
  return static_cast<uint16_t>(
      EstimateDiskStateByPercent(GetFreePercent(ConfFolder(), env), GetHDD()));
}

}  // namespace

int RunProgram(int argc, char** argv) {
  if (int answered = AnswerOptions(argc, argv); answered >= 0) return answered;
  RaiseDescriptorLimitToHard();  // crowds of clients meet the system's limit, not 1,024
  // The one real Env of the program, handed to what touches files.
  Env& env = Env::Default();
  ProcessState& process = Process();
  process.serviceLaunched = IsServiceCommandLine(argc, argv);

  if (!process.serviceLaunched) {
    std::string problem;
    InstanceLock lock = AcquireInstanceLock("QeurnComm main", &problem);
    if (lock == InstanceLock::kAlreadyHeld) {
      ShowMessageBox("Quillbox is Already running", "Error");
      return kExitAlreadyRunning;
    }
    if (lock == InstanceLock::kFailed) {
      ShowMessageBox(("Quillbox " + problem).c_str(), "Error");
      return kExitNoRunObjects;
    }
  }

  LocateSettingsFile(env);
  InitTempFolder();
  CheckTempFolder(env);
  // In service mode nothing is run or loaded that an account outside the
  // service's own and its group could have named or changed.
  RequireTrustedPrograms(process.serviceLaunched);
  InitTlsLibrary();  // before any thread may use TLS

  EventLoop loop(env);
  MainWindow mainWindow(loop);
  auto endpoint = std::make_unique<WindowEndpoint>(loop, &mainWindow);
  if (!endpoint->ok()) {
    const std::string text =
        "Quillbox cannot create its window endpoint under " + RunFolder() + "/windows";
    ShowMessageBox(text.c_str(), "Error");
    return kExitNoRunObjects;
  }
  endpoint->RegisterClass("MENU");
  process.mainWindowHandle = endpoint->handle();

  SetTraceMode(GetTrace());
  TightenSharedFiles(env);
  InitConfFolder();

  // The companion service ends the service instance with SIGTERM (its
  // message 32778); a hang-up means nothing to a service. In the other modes
  // a termination signal closes this instance only. Deliberately not the
  // tray's "Close": in desktop mode that also stops the service, and a
  // user's log-out (SIGHUP, SIGTERM) must not stop it for everyone.
  // Watched before any thread starts, so that every thread has them blocked.
  loop.WatchTerminationSignals([&](int signal) {
    if (process.serviceLaunched) {
      if (signal == kHangUpSignal) return;
      mainWindow.HandleMessage(kMsgServiceEnd, 0, 0);
    } else {
      mainWindow.HandleMessage(WM_CLOSE, 0, 0);
    }
  });

  StartNotifications();

  bool serverFailed = false;

  if (process.serviceLaunched) {
    serverFailed = !mainWindow.StartScanServer(process.mainWindowHandle);
    TraceLog(" Service QBX Start !!!");
    if (GetOsGeneration() == 2) startPipeSvr(process.mainWindowHandle);
    process.processMode = kModeService;
    StartFtpIfEnabled(true, mainWindow);
  } else {
    int startType = 0, error = 0;
    if (QueryCompanionStartType(&startType, &error)) {
      process.processMode = kModeDesktop;
      TraceLog(" Desktop QBX Start !!!(%d)", getConnectCounter());
      StartServiceCheck(loop, &mainWindow, process.mainWindowHandle);
    } else if (error == 1060 || error == 120) {
      serverFailed = !mainWindow.StartScanServer(process.mainWindowHandle);
      process.processMode = kModeNormal;
      TraceLog(" Normal QBX Start !!!");
      StartFtpIfEnabled(false, mainWindow);
    }
  }

  loop.PostMessage(&mainWindow, WM_COMMAND, kCmdOk, 0);
  ClearScannerEntries();
  process.hddState = InitialHddState(env);
  if (!process.serviceLaunched) {
    OpenConfigLink(process.mainWindowHandle, process.commState, process.hddState);
  }

  int code = loop.Run();  // ends with the main window's shutdown, which stops the servers
  loop.RemoveWindow(&mainWindow);
  // The exit sequence has queued its last status messages in order; they get
  // a bounded grace, not the full reply time of a silent peer each.
  FinishNotifications(kNotificationGraceMs);
  // A receiver that could not listen says so and ends with a failure code
  // (the main window has already shut everything down).
  if (serverFailed) {
    ShowMessageBox("The scan ports 37100/37101 cannot be opened.", "Quillbox");
    return kExitPortsFailed;
  }
  return code;
}

}  // namespace qb
