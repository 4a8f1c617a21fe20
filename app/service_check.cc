// The desktop instance's view of the service instance: once a second the
// service manager says whether the service runs and the service link says
// what the service instance shows (its tray state, its connections, a new
// file). The thread reports by posting to the main window, never waiting
// for the main thread, so that stopping it cannot deadlock.
#include <atomic>
#include <memory>
#include <thread>

#include "app/config_link.h"
#include "app/main_window.h"
#include "app/service_link.h"
#include "app/tray.h"
#include "config/folders.h"
#include "config/settings.h"
#include "interop/svc_ctrl.h"
#include "interop/window_messages.h"
#include "platform/stop_signal.h"
#include "platform/trace.h"
#include "platform/worker_thread.h"

namespace qb {
namespace {

constexpr int kTickMs = 1000;

std::atomic<bool> g_seenRunning{false};

struct ServiceCheck {
  EventLoop* loop = nullptr;
  Window* window = nullptr;
  uint32_t handle = 0;
  int pipeOpen = 0;
  StopSignal stop;
  std::thread thread;
};

std::unique_ptr<ServiceCheck> g_check;

void Tick(ServiceCheck& check) {
  const bool running = IsCompanionServiceRunning();
  g_seenRunning = running;
  const bool pipeGeneration = GetOsGeneration() == 2;
  if (running) {
    if (pipeGeneration && check.pipeOpen == 0) check.pipeOpen = startPipeClt(check.handle);
    check.loop->PostMessage(check.window, WM_COMMAND, kCmdTray, getIconState());
    NotifyConfig(WM_CONFIG_STATUS, kStatusServiceStarted);
    check.loop->PostMessage(check.window, kMsgServiceState, static_cast<uint64_t>(getCommState()),
                            0);
    if (chkRcvNewFile() == 1) {
      TraceLog("   chkRcvNewFile = TRUE");
      readFileOK();
      NotifyConfig(WM_CONFIG_STATUS, kStatusNewFile);
      if (GetReceive()) check.loop->Post([] { SignalReceiveEnd(); });
    }
  } else {
    if (pipeGeneration && check.pipeOpen == 1) {
      stopPipeClt();
      check.pipeOpen = 0;
    }
    check.loop->PostMessage(check.window, WM_COMMAND, kCmdTray, getIconState());
    NotifyConfig(WM_CONFIG_STATUS, kStatusServiceStopped);
  }
}

}  // namespace

bool CompanionServiceSeenRunning() { return g_seenRunning; }

void StartServiceCheck(EventLoop& loop, Window* mainWindow, uint32_t mainWindowHandle) {
  if (g_check) return;
  g_check = std::make_unique<ServiceCheck>();
  ServiceCheck& check = *g_check;
  check.loop = &loop;
  check.window = mainWindow;
  check.handle = mainWindowHandle;
  // The first answer before the tray is drawn, so that the icon does not
  // start with the wrong picture.
  g_seenRunning = IsCompanionServiceRunning();
  if (GetOsGeneration() == 2) {
    if (g_seenRunning) {
      check.pipeOpen = startPipeClt(mainWindowHandle);
    } else {
      TraceLog("service is not running");
    }
  }
  check.thread = StartWorkerThread([&check] {
    do {
      Tick(check);
    } while (WaitSocket(-1, false, check.stop.Descriptor(), kTickMs) == WaitResult::kTimedOut);
  });
  TraceLog("svcCheckStart(%u)", mainWindowHandle);
}

void StopServiceCheck() {
  if (!g_check) return;
  // The thread ends its current tick (at most one service-manager query)
  // and sees the signal at once instead of at its next second.
  g_check->stop.Raise();
  if (g_check->thread.joinable()) g_check->thread.join();
  g_check.reset();
  g_seenRunning = false;
}

}  // namespace qb
