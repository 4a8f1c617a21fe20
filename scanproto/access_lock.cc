#include "scanproto/access_lock.h"

#include <deque>

#include "platform/net.h"
#include "platform/trace.h"

namespace qb {
namespace {

constexpr int64_t kLockSeconds = 299;  // an entry older than this is purged

struct LockedClient {
  uint32_t address;
  int64_t lockedAt;
};

// Oldest first. Main thread only.
std::deque<LockedClient> g_locked;

uint32_t AddressOf(const char* ipText) {
  uint32_t address = 0;
  ParseDottedAddress(ipText, &address);
  return address;
}

}  // namespace

bool IsLocked(const char* ipText, int64_t now) {
  while (g_locked.size() > kMaxLockedClients) g_locked.pop_front();
  std::erase_if(g_locked, [now](const LockedClient& c) { return now - c.lockedAt > kLockSeconds; });
  uint32_t address = AddressOf(ipText);
  for (const LockedClient& client : g_locked) {
    if (client.address == address) return true;
  }
  return false;
}

void LockClient(const char* ipText, int64_t now) {
  if (!IsLocked(ipText, now)) g_locked.push_back({AddressOf(ipText), now});
  TraceLog(" ### Access Locked client num: %d", static_cast<int>(g_locked.size()));
  TraceLog(" ### Access Lock Start: %s", ipText);
}

size_t LockedClientCount() { return g_locked.size(); }

void ClearLockedClients() { g_locked.clear(); }

}  // namespace qb
