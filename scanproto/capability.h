// The capability reply: the three document formats the receiver takes and,
// on the direct port, the receiver's key number of the body cipher.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb {

constexpr size_t kCapResLength = 106;

// Writes the 106-byte reply body. The direct port's variant carries two
// filler texts and the key number; the job port's leaves both at zero.
void BuildCapabilityReply(uint8_t* out, bool direct, uint16_t serverKeyNo);

}  // namespace qb
