#include "app/tray.h"

#include "platform/trace.h"

namespace qb {

// The tray model lands with the tray work; until then every effect is a
// trace line so that the calls can be followed.
void TrayShowIcon(bool add) { TraceLog(" Tray icon %s", add ? "added" : "updated"); }
void TraySetState(int iconState) { TraceLog(" Tray icon state %d", iconState); }
void TrayRemoveIcon() { TraceLog(" Tray icon removed"); }
void TrayShowMenu() { TraceLog(" Tray menu"); }
void LaunchConfigProgram() { TraceLog(" Configuration program not launched (no tray yet)"); }
void ReceiveEndSignal() { TraceLog("There is a new image file."); }

}  // namespace qb
