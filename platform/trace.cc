#include "platform/trace.h"

#include <sys/stat.h>
#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/places.h"

namespace qb {
namespace {

std::mutex g_trace_mutex;
int g_trace_mode = 0;
bool g_capturing = false;
std::vector<std::string> g_captured;
// The program's trace texts are written in UTF-8; under code page 932 the
// Japanese ones go out as code page 932 bytes. Formats are literals, so
// each is converted once (before formatting, so that file names already in
// code page 932 pass through untouched).
std::unordered_map<const char*, std::string> g_cp932_formats;

const char* FormatInCodePage(const char* format) {
  bool ascii = true;
  for (const char* c = format; *c != '\0' && ascii; ++c)
    ascii = static_cast<unsigned char>(*c) < 0x80;
  if (ascii || AnsiCodePage() != kCodePageJapanese) return format;
  auto found = g_cp932_formats.find(format);
  if (found == g_cp932_formats.end()) {
    std::string converted;
    if (!Utf8ToCp932(format, &converted)) converted = format;
    found = g_cp932_formats.emplace(format, std::move(converted)).first;
  }
  return found->second.c_str();
}

// Opens the trace file for appending; a full one is first moved aside to
// NAME.1. Where it cannot be moved (another account's file in a sticky
// /tmp), it is emptied instead, which the writer of a line may do.
std::FILE* OpenTraceFile() {
  const std::string path = TraceFilePath();
  std::FILE* file = std::fopen(path.c_str(), "a+");
  if (file == nullptr) return nullptr;
  struct stat info;
  if (::fstat(::fileno(file), &info) != 0 || info.st_size < kTraceFileMax) return file;
  std::fclose(file);
  if (std::rename(path.c_str(), (path + ".1").c_str()) != 0) {
    return std::fopen(path.c_str(), "w");
  }
  return std::fopen(path.c_str(), "a+");
}

// "2026-12-07T21:04:05.123 ": local time to the millisecond, so that a
// line can be set beside the receive log, the system log and a capture.
// Deliberately more than the plain line of old: a trace is read across
// processes and days.
void PutTimeStamp(char* out, size_t size) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  ::localtime_r(&now.tv_sec, &local);
  std::snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d ", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(now.tv_nsec / 1000000));
}

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
  std::vsnprintf(line, sizeof line, FormatInCodePage(format), args);
  va_end(args);

  if (g_capturing) g_captured.emplace_back(line);
  if (g_trace_mode != 1 && g_trace_mode != 2) return;
  char stamp[96];  // room for any field width the compiler can imagine
  PutTimeStamp(stamp, sizeof stamp);
  if (g_trace_mode == 1) {
    std::fprintf(stderr, "%s%s\n", stamp, line);
  } else {
    std::FILE* file = OpenTraceFile();
    if (file == nullptr) return;
    std::fprintf(file, "%s%s\n", stamp, line);
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
