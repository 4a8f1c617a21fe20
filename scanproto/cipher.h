// The body cipher of the direct port: RC4 keyed with the first 16 bytes of
// the SHA-1 digest of a per-connection key text, a fresh key stream for
// every packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scanproto/scan_job.h"

namespace qb {

constexpr int kEncipher = 1;
constexpr int kDecipher = 0;

// Enciphers (direction 1) or deciphers (anything else) buffer in place.
// Returns 1 on success, 0 on failure (traced; the buffer is left as it was).
int CipherBody(const std::string& keyText, uint8_t* buffer, size_t length, int direction);

// "%d-%s-%d" of clientKeyNo, peerIp and serverKeyNo.
std::string CipherKeyText(const ScanJob& job);
// The same with the server number taken as 0 (capability reply).
std::string CipherKeyTextServerZero(const ScanJob& job);

}  // namespace qb
