#include "app/receiver.h"

#include "config/folders.h"
#include "config/scanner_list.h"
#include "config/settings.h"
#include "platform/trace.h"
#include "scanproto/connection_server.h"

namespace qb {
namespace {

// The hidden main window: it learns of connections opening and closing and
// ends the program when the scan server cannot start.
class MainWindow final : public Window {
 public:
  explicit MainWindow(EventLoop& loop) : loop_(loop) {}

  int64_t HandleMessage(uint32_t message, uint64_t wParam, int64_t lParam) override {
    switch (message) {
      case WM_COMMAND:
        if ((wParam & 0xFFFF) == kCmdServerStartFailed) {
          TraceLog("Scan server could not be started");
          loop_.Quit(1);
        } else if ((wParam & 0xFFFF) == kCmdTrayState) {
          TraceLog(" Tray state %ld", static_cast<long>(lParam));
        }
        return 0;
      case IDC_CONNECT_OPEN:
      case IDC_CONNECT_CLOSE:
        TraceLog(" Job connections: %d", JobCount());
        return 0;
      default:
        return 0;
    }
  }

 private:
  EventLoop& loop_;
};

}  // namespace

int RunReceiver(EventLoop& loop) {
  LocateSettingsFile();
  InitTempFolder();
  InitConfFolder();
  SetTraceMode(GetTrace());
  ClearScannerEntries();

  MainWindow mainWindow(loop);
  loop.WatchTerminationSignals([&loop](int signal) {
    TraceLog("Signal %d: closing", signal);
    loop.Quit(0);
  });

  int code = 1;
  if (StartCommunication(loop, &mainWindow, ScanServerHooks{})) code = loop.Run();
  StopCommunication();
  ClearScannerEntries();
  loop.RemoveWindow(&mainWindow);
  return code;
}

}  // namespace qb
