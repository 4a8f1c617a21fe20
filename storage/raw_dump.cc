#include "storage/raw_dump.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "config/folders.h"
#include "config/settings.h"

namespace qb {
namespace {

// The path is read at the first use and kept for the life of the process,
// which has one settings file; tests, which move between settings files,
// get it read again for each.
std::mutex g_path_mutex;
bool g_path_read = false;
std::string g_read_from;  // the settings file it was read from
std::string g_path;

std::string DumpPath() {
  const std::string& settings = SettingsPath();
  std::lock_guard<std::mutex> hold(g_path_mutex);
  if (!g_path_read || settings != g_read_from) {
    char buffer[260];  // the setting's buffer size
    g_path = GetFTP_DebugLogDBA(buffer, sizeof buffer) ? buffer : "";
    g_read_from = settings;
    g_path_read = true;
  }
  return g_path;
}

void Append(const void* data, size_t length) {
  std::string path = DumpPath();
  if (path.empty()) return;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return;
  std::fwrite(data, 1, length, file);
  std::fclose(file);
}

}  // namespace

bool RawDumpEnabled() { return !DumpPath().empty(); }

void RawDumpText(const std::string& text) { Append(text.data(), text.size()); }

void RawDumpPrintf(const char* format, ...) {
  if (!RawDumpEnabled()) return;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length > 0) {
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    Append(text.data(), static_cast<size_t>(length));
  }
  va_end(args);
}

void RawDumpBytes(const void* bytes, size_t length) {
  std::string path = DumpPath();
  if (path.empty()) return;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return;
  std::fputs("BINARY[", file);
  if (length > 0) std::fwrite(bytes, 1, length, file);
  std::fputs("]END\n", file);
  std::fclose(file);
}

}  // namespace qb
