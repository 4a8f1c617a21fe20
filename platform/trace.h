// Program-wide trace. One call makes one line of at most 307 characters.
// Mode 0 drops it, 1 writes it to standard error (the trace window),
// 2 appends it to the trace file R/tmp/qbxLog.log, opened and closed per
// line. Each line written starts with the local time to the millisecond
// and a blank ("2026-12-07T21:04:05.123 "); captured lines (tests) do not.
// A line that cannot be written is lost. Callable from any thread.
// A receiver left tracing for weeks must not fill the disk: once the file
// has reached kTraceFileMax bytes it becomes R/tmp/qbxLog.log.1 (replacing
// the one before) and the next line starts a new file, so the trace never
// takes more than about twice that.
#pragma once

#include <string>
#include <vector>

namespace qb {

constexpr int kTraceLineMax = 307;
constexpr long kTraceFileMax = 16L * 1024 * 1024;

void SetTraceMode(int mode);
int TraceMode();

void TraceLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Tests capture trace lines (in any mode) to check what was traced.
void StartTraceCapture();
std::vector<std::string> TakeCapturedTrace();
void StopTraceCapture();

}  // namespace qb
