// The raw-data dump: a diagnosis file that records meta data and extension
// calls as they happen, named by the setting FTP_DebugLogDBA (no dump when
// it is empty). The path is read at the first use and kept for the life of
// the process. Every write opens the file for appending, writes and closes
// it; no lock is taken, so writes from different threads may interleave
// only between calls.
#pragma once

#include <cstddef>
#include <string>

namespace qb {

bool RawDumpEnabled();

// Appends `text` unchanged.
void RawDumpText(const std::string& text);
// printf-style variant of RawDumpText.
void RawDumpPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Appends "BINARY[", the bytes, and "]END\n".
void RawDumpBytes(const void* bytes, size_t length);

}  // namespace qb
