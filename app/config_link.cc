#include "app/config_link.h"

#include <cstring>
#include <memory>

#include "app/process_state.h"
#include "interop/ordered_sender.h"
#include "interop/svc_ctrl.h"
#include "interop/window_endpoint.h"
#include "platform/global_lock.h"
#include "platform/places.h"
#include "platform/shared_record.h"
#include "platform/trace.h"

namespace qb {
namespace {

bool g_enabled = false;
// Set for the run of the event loop; guarded by GlobalLock.
std::unique_ptr<OrderedSender> g_sender;

// Lets `change` work on a copy of the record's fields and writes them back;
// nothing happens while the record is not in use.
template <typename Change>
bool Update(Change change) {
  if (!g_enabled) return false;
  return UpdateSharedRecord(ConfigLinkPath(), kConfigLinkSize, [&](uint8_t* bytes) {
    ConfigLinkFields fields;
    std::memcpy(&fields, bytes, sizeof fields);
    change(fields);
    std::memcpy(bytes, &fields, sizeof fields);
  });
}

// The record's fields; false while it is not in use or not present (a file
// another process truncated or replaced reads as absent).
bool Read(ConfigLinkFields* fields) {
  if (!g_enabled) return false;
  uint8_t bytes[kConfigLinkSize];
  if (!ReadSharedRecord(ConfigLinkPath(), kConfigLinkSize, bytes)) return false;
  std::memcpy(fields, bytes, sizeof *fields);
  return true;
}

// Queues a status message for the configuration program's window if the
// record says it is there. The record is read now, not when the message
// leaves: the exit sequence releases it right after queueing its last
// status. Another process may have filled the record with anything: only
// the two fixed words are read.
void SendStatus(uint32_t message, int code, int64_t lParam) {
  ConfigLinkFields fields;
  if (!Read(&fields) || fields.configPresent != 1 || fields.configWindow == 0) return;
  NotifyWindow(static_cast<uint32_t>(fields.configWindow), message, static_cast<uint64_t>(code),
               lParam);
}

}  // namespace

void StartNotifications() {
  GlobalLockGuard lock;
  if (!g_sender) g_sender = std::make_unique<OrderedSender>();
}

size_t FinishNotifications(int graceMs) {
  std::unique_ptr<OrderedSender> sender;
  {
    GlobalLockGuard lock;
    sender.swap(g_sender);
  }
  // Outside the lock: the grace may be spent waiting for another process.
  return sender ? sender->Finish(graceMs) : 0;
}

void NotifyWindow(uint32_t window, uint32_t message, uint64_t wParam, int64_t lParam) {
  GlobalLockGuard lock;
  if (!g_sender) {
    TraceLog(" Notification not sent, no sender: message %u to window %u", message, window);
    return;
  }
  g_sender->Queue(window, message, wParam, lParam);
}

std::string ConfigLinkPath() { return RunFolder() + "/TvScannerQuernConf"; }

void OpenConfigLink(uint32_t mainWindow, uint16_t commState, uint16_t hddState) {
  GlobalLockGuard lock;
  g_enabled = true;
  Update([&](ConfigLinkFields& fields) {
    if (std::strncmp(fields.ownerTag, "CONFSET", 7) != 0) {
      std::memset(fields.ownerTag, 0, sizeof fields.ownerTag);
      std::strcpy(fields.ownerTag, "COMMUNICATE");
      fields.configPresent = 0;
      fields.configWindow = 0;
    }
    fields.commPresent = 1;
    fields.commWindow = static_cast<int32_t>(mainWindow);
    fields.commState = commState;
    fields.hddState = hddState;
    std::memset(fields.reserved, 0, sizeof fields.reserved);
  });
}

void ReleaseConfigLink() {
  GlobalLockGuard lock;
  Update([](ConfigLinkFields& fields) {
    if (fields.configPresent == 1) {
      std::memset(fields.ownerTag, 0, sizeof fields.ownerTag);
      std::strcpy(fields.ownerTag, "CONFSET");
    }
    fields.commPresent = 0;
    fields.commWindow = 0;
  });
  g_enabled = false;
}

void PublishCommState(uint16_t state) {
  GlobalLockGuard lock;
  Update([state](ConfigLinkFields& fields) { fields.commState = state; });
}

void PublishHddState(uint16_t state) {
  GlobalLockGuard lock;
  Update([state](ConfigLinkFields& fields) { fields.hddState = state; });
}

bool ConfigLinkInUse() {
  GlobalLockGuard lock;
  return g_enabled;
}

bool ReadConfigLink(ConfigLinkFields* fields) {
  GlobalLockGuard lock;
  return Read(fields);
}

void NotifyConfig(uint32_t message, int code) {
  if (Process().processMode == kModeService && code == kStatusNewFile) {
    TraceLog(" QN_PROCTYPE_SERVICE / WM_COMM_RCV_NEW_FILE ");
    rcvNewFile();
    return;
  }
  GlobalLockGuard lock;
  SendStatus(message, code, 0);
}

void NotifyConfigCount(uint32_t message, int code, int count) { SendStatus(message, code, count); }

uint16_t HddStateOfIcon(int iconState) { return iconState == 2 ? 256 : iconState == 3 ? 512 : 0; }

void NotifyConfigDisk(uint32_t message, int iconState) {
  uint16_t state = HddStateOfIcon(iconState);
  Update([state](ConfigLinkFields& fields) { fields.hddState = state; });
  SendStatus(message, kStatusDiskState, 0);
}

}  // namespace qb
