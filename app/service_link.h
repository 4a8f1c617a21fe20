// The companion service "QBXSVC": its configuration (which decides the
// process mode), its state, starting and stopping it; the desktop's
// service-check thread and the address-change monitor.
#pragma once

#include <cstdint>

namespace qb {

// True with the start type (2 automatic, 3 manual, other disabled); false
// with the error number (1060 no such service, 120 no service manager).
bool QueryCompanionStartType(int* startType, int* error);
bool IsCompanionServiceRunning();
bool StartCompanionService();
bool StopCompanionService();

void StartServiceCheck(uint32_t mainWindow);
void StopServiceCheck();
void StartAddressMonitor(uint32_t mainWindow);
void StopAddressMonitor();

}  // namespace qb
