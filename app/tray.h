// The tray icon, its menu, the configuration program's launch and the
// announcement of a new file. Headless: the icon's state is kept in
// R/run/quillbox/tray.ini (section TRAY: Icon, Tip, Visible; section MENU:
// the menu last shown), so that a desktop applet or a test can follow it.
// In service mode there is no desktop: the states go to the service link,
// which the desktop instance reads. Main thread only.
#pragma once

#include <string>

namespace qb {

// Icon state from the disk of the CONF folder; adds the icon (add) or
// modifies it.
void ShowTrayIcon(bool add);
// Draws state 1 (normal), 2 (disk nearly full) or 3 (disk full); another
// value leaves the icon without a picture.
void SetTrayIconState(int state);
void RemoveTrayIcon();
// Builds the context menu for the current mode and state and records it.
void ShowTrayMenu();
// Starts the configuration program, or leaves the running one be.
void LaunchConfigProgram();
// "A document has arrived": the beep (outside service mode), then the main
// window's new-file announcement.
void SignalReceiveEnd();
// The main window's "There is a new image file.": a trace line, and a
// desktop notification when a desktop session is present.
void ShowNewFileWindow();

// The picture name of a state; `stopped` for desktop mode with the service
// stopped. Empty for a state other than 1 to 3.
std::string TrayPictureName(int state, bool stopped);
// Where the tray state is kept.
std::string TrayFilePath();

}  // namespace qb
