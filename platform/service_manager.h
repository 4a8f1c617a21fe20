// The companion service through systemctl (unit NAME.service). Results are
// 0 on success or the service manager's error number: 1060 the service does
// not exist, 120 there is no service manager (no systemctl on PATH, or
// systemd not running), 1 any other failure.
#pragma once

namespace qb {

constexpr int kErrorServiceDoesNotExist = 1060;
constexpr int kErrorNoServiceManager = 120;

// Start type: 2 automatic (enabled), 3 manual, 4 disabled (disabled/masked).
int QueryServiceStartType(const char* service, int* startType);
// Running means any state but inactive or failed.
int QueryServiceRunning(const char* service, bool* running);
int StartServiceUnit(const char* service);
// Stops and starts it again (starts it when it was not running).
int RestartServiceUnit(const char* service);
// `alreadyStopped` tells that the service was not running.
int StopServiceUnit(const char* service, bool* alreadyStopped);

}  // namespace qb
