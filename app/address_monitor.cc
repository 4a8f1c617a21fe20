// Watches the machine's IPv4 addresses: when they change, printers that
// know the PC by name are told its name again (from this thread; the
// announcement itself is handed to the thread that owns the host list).
#include <memory>
#include <thread>

#include "app/service_link.h"
#include "platform/address_watch.h"
#include "platform/stop_signal.h"
#include "platform/trace.h"
#include "platform/worker_thread.h"

namespace qb {
namespace {

// How long one wait lasts before the thread looks at its stop signal again
// (it is also woken by the signal at once).
constexpr int kWaitMs = 1000;

struct AddressMonitor {
  uint32_t handle = 0;
  std::function<void()> announce;
  StopSignal stop;
  std::thread thread;
};

std::unique_ptr<AddressMonitor> g_monitor;

void TraceLocalAddresses() {
  std::vector<LocalAddress> addresses;
  if (!ListLocalAddresses(&addresses)) {
    TraceLog("GetIpAddrTable failed with error %d", 0);
    return;
  }
  TraceLog("Num Entries: %ld", static_cast<long>(addresses.size()));
  for (size_t i = 0; i < addresses.size(); ++i) {
    TraceLog("IP Address[%d]:%s", static_cast<int>(i), addresses[i].dotted.c_str());
    if (addresses[i].dotted == "127.0.0.1") TraceLog("Loopback Address");
    if (addresses[i].primary) TraceLog("Primary IP Address");
  }
}

void Watch(AddressMonitor& monitor) {
  AddressChangeWatch watch;
  if (!watch.ok()) {
    TraceLog("NotifyAddrChange error...%d", watch.error());
    return;
  }
  for (;;) {
    WaitResult result = WaitSocket(watch.Descriptor(), false, monitor.stop.Descriptor(), kWaitMs);
    if (result == WaitResult::kStopped) break;
    if (result != WaitResult::kReady) continue;
    // A change usually comes as several messages (address, broadcast,
    // routes); all that are waiting make one announcement.
    if (!watch.Drain()) continue;
    TraceLog("IP Address table changed..");
    TraceLocalAddresses();
    if (monitor.announce) monitor.announce();
  }
  TraceLog("addrChangeCheckCtl --END--");
}

}  // namespace

void StartAddressMonitor(uint32_t mainWindowHandle, std::function<void()> announce) {
  if (g_monitor) return;
  g_monitor = std::make_unique<AddressMonitor>();
  g_monitor->handle = mainWindowHandle;
  g_monitor->announce = std::move(announce);
  AddressMonitor& monitor = *g_monitor;
  monitor.thread = StartWorkerThread([&monitor] { Watch(monitor); });
  TraceLog("addrChangeCheckStart(%u)", mainWindowHandle);
}

void StopAddressMonitor() {
  if (!g_monitor) return;
  g_monitor->stop.Raise();
  if (g_monitor->thread.joinable()) g_monitor->thread.join();
  TraceLog("addrChangeCheckEnd(%u)", g_monitor->handle);
  g_monitor.reset();
}

}  // namespace qb
