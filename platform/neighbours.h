// Hardware addresses of IPv4 neighbours, from the kernel's neighbour table.
#pragma once

#include <cstdint>

namespace qb {

constexpr int kErrorGenFailure = 31;  // on-link, but nobody answered
constexpr int kErrorBadNetName = 67;  // no on-link route: loopback, via a gateway, no route

// The hardware address of a complete neighbour-table entry (host order
// IPv4 address); false when there is none or the table cannot be read.
// `tableReadable` (may be null) tells whether the table could be read.
bool LookupNeighbour(uint32_t address, uint8_t mac[6], bool* tableReadable = nullptr);

// Asks the kernel to resolve the neighbour and waits up to 1 s. Returns 0
// with the 6-byte address and *length = 6, or kErrorBadNetName /
// kErrorGenFailure.
int ResolveNeighbour(uint32_t address, uint8_t mac[6], uint32_t* length);

}  // namespace qb
