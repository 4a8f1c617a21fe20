// Small records shared between processes (the configuration program's
// record, the service link): a file of fixed size under the run-time
// folder, read and written whole with pread/pwrite under a lock on the
// file. Nothing is mapped, so whatever another process does to the file
// (truncates it, replaces it, empties it) shows as "not present" or is
// written over, never as a fault in this process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qb {

// The largest record handled.
constexpr size_t kSharedRecordMax = 256;

// Copies the record's `size` bytes into `out`. False ("not present") when
// the file is missing, is not a regular file, or holds fewer than `size`
// bytes.
bool ReadSharedRecord(const std::string& path, size_t size, uint8_t* out);

// Reads the record (zero bytes where the file is missing or short), lets
// `change` work on the copy and writes all `size` bytes back, creating the
// file (mode 0660) when missing. False when it cannot be opened or written.
bool UpdateSharedRecord(const std::string& path, size_t size,
                        const std::function<void(uint8_t* bytes)>& change);

}  // namespace qb
