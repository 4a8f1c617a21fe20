// The raw-data dump: a diagnosis file that records meta data and extension
// calls as they happen, named by the setting FTP_DebugLogDBA (no dump when
// it is empty). The path is read at the first use and kept for the life of
// the process. Every write opens the file for appending, writes and closes
// it; no lock is taken, so writes from different threads may interleave
// only between calls.
#pragma once

#include <cstddef>
#include <string>

#include "platform/env.h"

namespace qb {

bool RawDumpEnabled();

// The dump is written through `env`. Appends `text` unchanged.
void RawDumpText(Env& env, const std::string& text);
// printf-style variant of RawDumpText.
void RawDumpPrintf(Env& env, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Appends "BINARY[", the bytes, and "]END\n".
void RawDumpBytes(Env& env, const void* bytes, size_t length);

}  // namespace qb
