#include "scanproto/peer_class.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/neighbours.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "scanproto/access_lock.h"

namespace qb {
namespace {

// Hardware-address prefixes of the printers we serve (locally administered
// prefixes of our own).
struct VendorPrefix {
  uint8_t bytes[3];
  int peerClass;
  bool countsFromArp;  // A3 counts only when the address came from the table
};

constexpr VendorPrefix kA1{{0x02, 0x51, 0x42}, kClassGroupA, true};
constexpr VendorPrefix kA2{{0x02, 0x51, 0x43}, kClassGroupA, true};
constexpr VendorPrefix kA3{{0x02, 0x51, 0x44}, kClassGroupA, false};
constexpr VendorPrefix kB1{{0x0A, 0x51, 0x42}, kClassGroupB, true};
constexpr VendorPrefix kB2{{0x0A, 0x51, 0x43}, kClassGroupB, true};
constexpr VendorPrefix kB3{{0x0A, 0x51, 0x44}, kClassGroupB, true};

// Comparison order differs by source, as the two lookups always did.
constexpr const VendorPrefix* kTableOrder[] = {&kA1, &kA3, &kA2, &kB1, &kB2, &kB3};
constexpr const VendorPrefix* kArpOrder[] = {&kA1, &kA2, &kB1, &kB2, &kB3};

template <size_t N>
int MatchPrefix(const uint8_t mac[6], const VendorPrefix* const (&order)[N]) {
  for (const VendorPrefix* prefix : order) {
    if (std::memcmp(mac, prefix->bytes, 3) == 0) return prefix->peerClass;
  }
  return kClassOther;
}

void TracePrefix(const uint8_t mac[6]) {
  for (int i = 0; i < 3; ++i) TraceLog("Mac Addr:%02x", mac[i]);
}

// Traces a failed resolution; 31 and 67 leave the class undetermined.
int ArpFailure(int error) {
  TraceLog("Error: SendArp failed with error: %d", error);
  switch (error) {
    case 1168:
      TraceLog(" (ERROR_NOT_FOUND)\n");
      break;
    case 1784:
      TraceLog(" (ERROR_INVALID_USER_BUFFER)\n");
      break;
    case 111:
      TraceLog(" (ERROR_BUFFER_OVERFLOW)\n");
      break;
    case 31:
      TraceLog(" (ERROR_GEN_FAILURE)\n");
      break;
    case 87:
      TraceLog(" (ERROR_INVALID_PARAMETER)\n");
      break;
    default:
      TraceLog("\n");
      break;
  }
  return error == kErrorGenFailure || error == kErrorBadNetName ? kClassUndetermined : kClassOther;
}

// The class from a resolution's answer (the end of every classification
// that had to resolve).
int ClassFromAnswer(const NeighbourAnswer& answer) {
  if (answer.error != 0) return ArpFailure(answer.error);
  if (answer.length == 0) {
    TraceLog("Warning: SendArp completed successfully, but returned length=0\n");
    return kClassOther;
  }
  TracePrefix(answer.mac);
  return MatchPrefix(answer.mac, kArpOrder);
}

// How a classification gets a resolution's answer when the neighbour table
// has none: false when it cannot be had now (the lookup must not wait).
using Resolution = std::function<bool(uint32_t address, NeighbourAnswer* answer)>;

bool ResolveWaiting(uint32_t address, NeighbourAnswer* answer) {
  answer->error = ResolveNeighbour(address, answer->mac, &answer->length);
  return true;
}

bool ResolveWithoutWaiting(uint32_t address, NeighbourAnswer* answer) {
  answer->error = ResolveNeighbourNow(address, answer->mac, &answer->length);
  return answer->error != kErrorIoPending;
}

// The classification: *address is set whenever the text is an address;
// false when `resolve` could not answer (a table miss: nothing traced yet).
bool Classify(const char* ipText, const Resolution& resolve, uint32_t* address, int* peerClass) {
  *address = 0;
  if (!ParseDottedAddress(ipText, address)) {
    *peerClass = kClassOther;
    return true;
  }
  if (*address == 0x7F000001) {
    *peerClass = kClassOther;
    return true;
  }

  uint8_t mac[6];
  bool readable = false;
  NeighbourAnswer answer{};
  if (LookupNeighbour(*address, mac, &readable)) {
    TraceLog(" found Address in IpNettable: %s\n", ipText);
    TracePrefix(mac);
    *peerClass = MatchPrefix(mac, kTableOrder);
    if (*peerClass != kClassOther) return true;
    // The entry was just there, so the resolution normally answers at once;
    // should it have gone meanwhile, the form that must not wait gives up.
    if (!resolve(*address, &answer)) return false;
    *peerClass = answer.error == 0 ? kClassOther : ArpFailure(answer.error);
    return true;
  }
  if (!resolve(*address, &answer)) return false;
  if (!readable) TraceLog("GetIpNetTable failed.\n");
  TraceLog("Sending ARP request for IP address: %s\n", ipText);
  *peerClass = ClassFromAnswer(answer);
  return true;
}

// Answers of the last kPeerClassCacheMs by address. A printer's hardware
// address does not change, but an address may pass to another device, and
// a neighbour that did not answer may be back: so the answers are kept
// briefly only.
struct CacheEntry {
  int peerClass;
  int64_t storedMs;
};
constexpr size_t kCacheLimit = 1024;
std::mutex g_cache_mutex;
std::unordered_map<uint32_t, CacheEntry> g_cache;
bool CachedClass(const Env& env, uint32_t address, int* peerClass) {
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  auto found = g_cache.find(address);
  if (found == g_cache.end()) return false;
  if (env.NowMs() - found->second.storedMs >= kPeerClassCacheMs) {
    g_cache.erase(found);
    return false;
  }
  *peerClass = found->second.peerClass;
  return true;
}

void StoreClass(const Env& env, uint32_t address, int peerClass) {
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  int64_t now = env.NowMs();
  if (g_cache.size() >= kCacheLimit) {
    std::erase_if(g_cache, [now](const auto& entry) {
      return now - entry.second.storedMs >= kPeerClassCacheMs;
    });
  }
  if (g_cache.size() >= kCacheLimit) g_cache.clear();  // only under a flood of addresses
  g_cache[address] = CacheEntry{peerClass, now};
}

}  // namespace

int ClassifyPeer(const char* ipText) {
  uint32_t address = 0;
  int peerClass = kClassOther;
  Classify(ipText, ResolveWaiting, &address, &peerClass);
  return peerClass;
}

bool ClassifyPeerIfKnown(const Env& env, const char* ipText, int* peerClass) {
  uint32_t address = 0;
  if (ParseDottedAddress(ipText, &address) && CachedClass(env, address, peerClass)) return true;
  if (!Classify(ipText, ResolveWithoutWaiting, &address, peerClass)) return false;
  if (address != 0) StoreClass(env, address, *peerClass);
  return true;
}

bool ClassifyPeerOrResolve(const Env& env, NeighbourResolver& resolver, const char* ipText,
                           int* peerClass, std::function<void(int peerClass)> done) {
  if (ClassifyPeerIfKnown(env, ipText, peerClass)) return true;
  uint32_t address = 0;
  ParseDottedAddress(ipText, &address);
  std::string text = ipText;
  const Env* cacheEnv = &env;
  resolver.Resolve(
      address, [cacheEnv, text, address, done = std::move(done)](const NeighbourAnswer& answer) {
        // Read as a synchronous classification reads its resolution (the table
        // had no entry a moment ago; it may have one now, but the class of a
        // resolved address follows the resolution's rules).
        TraceLog("Sending ARP request for IP address: %s\n", text.c_str());
        int resolvedClass = ClassFromAnswer(answer);
        StoreClass(*cacheEnv, address, resolvedClass);
        done(resolvedClass);
      });
  return false;
}

void ClearPeerClassCache() {
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  g_cache.clear();
}

}  // namespace qb
