#include <cstring>

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

}  // namespace

int ClassifyPeer(const char* ipText) {
  uint32_t address = 0;
  if (!ParseDottedAddress(ipText, &address)) return kClassOther;
  if (address == 0x7F000001) return kClassOther;

  uint8_t mac[6];
  uint32_t length = 0;
  bool readable = false;
  if (LookupNeighbour(address, mac, &readable)) {
    TraceLog(" found Address in IpNettable: %s\n", ipText);
    TracePrefix(mac);
    int peerClass = MatchPrefix(mac, kTableOrder);
    if (peerClass != kClassOther) return peerClass;
    int error = ResolveNeighbour(address, mac, &length);
    return error == 0 ? kClassOther : ArpFailure(error);
  }
  if (!readable) TraceLog("GetIpNetTable failed.\n");

  TraceLog("Sending ARP request for IP address: %s\n", ipText);
  int error = ResolveNeighbour(address, mac, &length);
  if (error != 0) return ArpFailure(error);
  if (length == 0) {
    TraceLog("Warning: SendArp completed successfully, but returned length=0\n");
    return kClassOther;
  }
  TracePrefix(mac);
  return MatchPrefix(mac, kArpOrder);
}

}  // namespace qb
