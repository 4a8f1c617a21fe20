// The companion service "QBXSVC": its configuration (which decides the
// process mode), its state, starting and stopping it; the desktop's
// service-check thread and the address-change monitor.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/event_loop.h"

namespace qb {

// True with the start type (2 automatic, 3 manual, other disabled); false
// with the error number (1060 no such service, 120 no service manager).
bool QueryCompanionStartType(int* startType, int* error);
// Asks the service manager (waits for it: not on the event loop).
bool IsCompanionServiceRunning();
bool StartCompanionService();
bool StopCompanionService();

// Desktop mode: a thread asks the service manager and the service link
// once a second and reports to `mainWindow` on `loop` (tray state, the
// service instance's connection state, its new files). The first answer is
// taken before StartServiceCheck returns.
void StartServiceCheck(EventLoop& loop, Window* mainWindow, uint32_t mainWindowHandle);
void StopServiceCheck();
// What the service-check thread last learned (false outside desktop mode).
bool CompanionServiceSeenRunning();

// A thread that waits for changes of the machine's IPv4 addresses and then
// calls `announce` (from its own thread) once per batch of changes.
void StartAddressMonitor(uint32_t mainWindowHandle, std::function<void()> announce);
void StopAddressMonitor();

}  // namespace qb
