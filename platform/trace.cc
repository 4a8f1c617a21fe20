#include "platform/trace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/places.h"

namespace qb {
namespace {

std::mutex g_trace_mutex;
int g_trace_mode = 0;
bool g_capturing = false;
std::vector<std::string> g_captured;

}  // namespace

void SetTraceMode(int mode) {
  std::lock_guard<std::mutex> lock(g_trace_mutex);
  g_trace_mode = mode;
}

int TraceMode() {
  std::lock_guard<std::mutex> lock(g_trace_mutex);
  return g_trace_mode;
}

void TraceLog(const char* format, ...) {
  std::lock_guard<std::mutex> lock(g_trace_mutex);
  if (g_trace_mode != 1 && g_trace_mode != 2 && !g_capturing) return;

  char line[kTraceLineMax + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);

  if (g_capturing) g_captured.emplace_back(line);
  if (g_trace_mode == 1) {
    std::fprintf(stderr, "%s\n", line);
  } else if (g_trace_mode == 2) {
    std::FILE* file = std::fopen(TraceFilePath().c_str(), "a+");
    if (file == nullptr) return;
    std::fprintf(file, "%s\n", line);
    std::fclose(file);
  }
}

void StartTraceCapture() {
  std::lock_guard<std::mutex> lock(g_trace_mutex);
  g_capturing = true;
  g_captured.clear();
}

std::vector<std::string> TakeCapturedTrace() {
  std::lock_guard<std::mutex> lock(g_trace_mutex);
  std::vector<std::string> lines;
  lines.swap(g_captured);
  return lines;
}

void StopTraceCapture() {
  std::lock_guard<std::mutex> lock(g_trace_mutex);
  g_capturing = false;
  g_captured.clear();
}

}  // namespace qb
