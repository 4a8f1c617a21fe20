// Process-wide state of the running program.
#pragma once

#include <cstdint>

namespace qb {

enum ProcessModeValue : int {
  kModeNone = 0,
  kModeNormal = 1,
  kModeService = 2,
  kModeDesktop = 3,
};

constexpr uint16_t kCommIdle = 16;
constexpr uint16_t kCommBusy = 17;

struct ProcessState {
  bool serviceLaunched = false;
  int processMode = kModeNone;
  uint32_t mainWindowHandle = 0;  // the main window's endpoint number
  uint16_t commState = kCommIdle;
  uint16_t hddState = 0;  // 0 normal, 256 warning, 512 full
  bool quitOnLogList = false;
  bool menuDisabled = false;
};

ProcessState& Process();

}  // namespace qb
