// The printer panel's view of destination folders over the direct port: a
// destination's folder and the sub-folders of any folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scanproto/scan_job.h"

namespace qb {

// Entries stop after the one that brings their total to this size, which
// keeps a reply within the send buffer.
constexpr size_t kDirListCut = 26001;

// Writes the entries (a length byte, then the name) back to back into
// `out` and returns their total size; `count` gets the number written.
// Names longer than 255 bytes are cut to 255. `out` must hold
// kDirListCut + 255 bytes.
size_t PackDirEntries(const std::vector<std::string>& names, uint8_t* out, uint16_t* count);

// The replies, enciphered with the connection's full key text.
void SendDirNameRes(ScanJob& job, uint16_t result, uint16_t error, const char* folder);
void SendDirListRes(ScanJob& job, uint16_t count, size_t entriesLength);

}  // namespace qb
