// The tray icon and the user's signals. Headless here: the effects are
// traced until the tray model is built.
#pragma once

namespace qb {

// Puts the icon up (add) or refreshes it.
void TrayShowIcon(bool add);
// Icon state: 1 normal, 2 disk nearly full, 3 disk full.
void TraySetState(int iconState);
void TrayRemoveIcon();
void TrayShowMenu();
// Starts the configuration program.
void LaunchConfigProgram();
// "A document has arrived": beep and bring the main window forward.
void ReceiveEndSignal();

}  // namespace qb
