// The 68-byte record shared with the configuration program
// (R/run/quillbox/TvScannerQuernConf) and the status messages sent to that
// program's window. Only outside service mode is the record used; in
// service mode every access does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qb {

constexpr size_t kConfigLinkSize = 68;
constexpr uint32_t WM_CONFIG_STATUS = 0x0400 + 1;

// Status codes sent with WM_CONFIG_STATUS.
enum ConfigStatus : int {
  kStatusConnected = 1,
  kStatusIdle = 2,
  kStatusNewFile = 3,
  kStatusDiskState = 4,
  kStatusServiceStarted = 5,
  kStatusServiceStopped = 6,
  kStatusServiceStoppedBeforeClose = 7,
};

// Fixed fields of the record.
struct ConfigLinkFields {
  char ownerTag[32];
  int32_t configPresent;
  int32_t configWindow;
  int32_t commPresent;
  int32_t commWindow;
  int32_t commState;
  int32_t hddState;
  int32_t reserved[3];
};
static_assert(sizeof(ConfigLinkFields) == kConfigLinkSize);

std::string ConfigLinkPath();
// Enables the record (outside service mode) and writes the start fields.
void OpenConfigLink(uint32_t mainWindow, uint16_t commState, uint16_t hddState);
// Writes the exit fields and disables the record.
void ReleaseConfigLink();
void PublishCommState(uint16_t state);
void PublishHddState(uint16_t state);
// Whether this instance keeps the record (not in service mode).
bool ConfigLinkInUse();
// Reads the record; false when it is not in use or not present (missing,
// cut short or replaced by another process).
bool ReadConfigLink(ConfigLinkFields* fields);

// Messages to other programs' windows (the configuration program, the
// companions) leave through one ordered sender (interop/ordered_sender.h),
// so that the main thread never waits for another process; none of them
// needs the reply. StartNotifications before the event loop runs,
// FinishNotifications when it has ended: it spends at most graceMs on what
// is still queued and returns the number of messages whose replies were
// not awaited to the end. Without a started sender nothing is sent (traced).
void StartNotifications();
size_t FinishNotifications(int graceMs);
// Queues (message, wParam, lParam) for another program's window; any thread.
void NotifyWindow(uint32_t window, uint32_t message, uint64_t wParam, int64_t lParam);

// Status notification: in service mode code 3 reaches the companion
// service's library; otherwise the configuration program's window, when
// it is present, gets (message, code, 0), queued in the order of the calls.
void NotifyConfig(uint32_t message, int code);
// The same with lParam = count (main thread only).
void NotifyConfigCount(uint32_t message, int code, int count);
// Stores the disk state of a tray icon state (2 → 256, 3 → 512, other 0)
// and sends code 4 (main thread only).
void NotifyConfigDisk(uint32_t message, int iconState);

// The disk word of a tray icon state.
uint16_t HddStateOfIcon(int iconState);

}  // namespace qb
