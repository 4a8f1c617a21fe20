#include "app/tray.h"

#include <cstdio>
#include <vector>

#include "app/config_link.h"
#include "app/main_window.h"
#include "app/process_state.h"
#include "app/service_link.h"
#include "app/tray_menu.h"
#include "config/folders.h"
#include "interop/svc_ctrl.h"
#include "platform/launch.h"
#include "platform/local_trust.h"
#include "platform/places.h"
#include "platform/profile.h"
#include "platform/trace.h"
#include "storage/disk_space.h"

namespace qb {
namespace {

constexpr char kTip[] = "Quillbox";

int IconStateOfDisk(DiskState disk) {
  if (disk == DiskState::kFull) return kTrayFull;
  if (disk == DiskState::kWarning) return kTrayWarning;
  return kTrayNormal;
}

// Only the desktop instance asks whether the service runs; the others
// draw the running pictures.
bool ShowsStoppedPicture() {
  return Process().processMode == kModeDesktop && !CompanionServiceSeenRunning();
}

void WriteTray(const std::vector<ProfileUpdate>& updates) {
  if (!ProfileReplaceMany(TrayFilePath(), "TRAY", updates)) {
    TraceLog(" Tray state not written (%s)", TrayFilePath().c_str());
  }
}

void Draw(int state, bool visible) {
  if (Process().processMode == kModeService) {
    setIconState(state);
    setHDDState(HddStateOfIcon(state));
    return;
  }
  WriteTray({{"Icon", TrayPictureName(state, ShowsStoppedPicture())},
             {"Tip", std::string(kTip)},
             {"Visible", std::string(visible ? "1" : "0")}});
}

int g_drawnState = kTrayNormal;

}  // namespace

std::string TrayFilePath() { return RunFolder() + "/tray.ini"; }

std::string TrayPictureName(int state, bool stopped) {
  const char* picture = state == kTrayNormal    ? "SICON"
                        : state == kTrayWarning ? "SICON_YELOW"
                        : state == kTrayFull    ? "SICON_RED"
                                                : nullptr;
  if (picture == nullptr) return "";
  return std::string(picture) + (stopped ? "-STOP" : "");
}

void ShowTrayIcon(bool /*add*/) {
  // Adding and modifying end alike here: the file says what is shown.
  g_drawnState = IconStateOfDisk(EvaluateDiskState(ConfFolder(), Env::Default()));
  Draw(g_drawnState, true);
}

void SetTrayIconState(int state) {
  g_drawnState = state;
  Draw(state, true);
}

void RemoveTrayIcon() {
  if (Process().processMode == kModeService) return;
  Draw(g_drawnState, false);
}

void ShowTrayMenu() {
  ProcessState& process = Process();
  TrayMenuInputs inputs;
  inputs.desktopMode = process.processMode == kModeDesktop;
  inputs.menuDisabled = process.menuDisabled;
  if (inputs.desktopMode) {
    inputs.serviceRunning = CompanionServiceSeenRunning();
    inputs.serviceJobs = getSvcJobNum();
    TraceLog(" MakeRTray SvcJobNum = %d", inputs.serviceJobs);
  }
  const std::vector<TrayMenuItem> items = BuildTrayMenu(inputs);
  std::vector<ProfileUpdate> lines;
  for (size_t i = 0; i < 8; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "Item%zu", i + 1);
    if (i < items.size()) {
      lines.push_back({key, DescribeTrayMenuItem(items[i])});
    } else {
      lines.push_back({key, std::nullopt});
    }
  }
  if (!ProfileReplaceMany(TrayFilePath(), "MENU", lines)) TraceLog(" Tray menu not written");
}

void LaunchConfigProgram() {
  if (!ConfigLinkInUse()) return;
  // Already running: its window is the user's to bring forward; a second
  // copy is not started. A record another process removed says nobody is.
  ConfigLinkFields link;
  if (ReadConfigLink(&link) && link.configPresent == 1 && link.configWindow != 0) return;
  std::string commandLine = ConfFolder() + "/QuernConf.exe";
  const ProcessState& process = Process();
  if (process.processMode != kModeNormal) {
    const bool running =
        process.processMode == kModeService || CompanionServiceSeenRunning();
    commandLine += running ? " ServiceModeActive" : " ServiceModeStop";
  }
  if (!MayRunProgram(ConfFolder() + "/QuernConf.exe", ConfFolderNamedBy())) return;
  // The child is reaped by the launcher; nothing of it is held here.
  if (LaunchCommandLine(commandLine) < 0) TraceLog("Err:CreateProcess(%s)", commandLine.c_str());
}

void SignalReceiveEnd() {
  if (!Process().serviceLaunched) TraceLog(" Beep");
  ShowNewFileWindow();
}

void ShowNewFileWindow() {
  TraceLog("There is a new image file.");
  if (Process().processMode != kModeService && DesktopSessionPresent()) {
    LaunchProgram({"notify-send", "--app-name=Quillbox", "Quillbox", "There is a new image file."});
  }
}

}  // namespace qb
