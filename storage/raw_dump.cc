#include "storage/raw_dump.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>
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

// Each piece is one Append of one open, so that pieces of other threads
// come only between them.
void Append(Env& env, std::initializer_list<std::pair<const void*, size_t>> pieces) {
  std::string path = DumpPath();
  if (path.empty()) return;
  std::unique_ptr<WritableFile> file;
  if (!env.NewWritableFile(path, CreateMode::kAppend, &file)) return;
  for (const auto& [data, length] : pieces) {
    if (length > 0 && !file->Append(data, length)) break;
  }
  file->Close();
}

}  // namespace

bool RawDumpEnabled() { return !DumpPath().empty(); }

void RawDumpText(Env& env, const std::string& text) { Append(env, {{text.data(), text.size()}}); }

void RawDumpPrintf(Env& env, const char* format, ...) {
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
    Append(env, {{text.data(), static_cast<size_t>(length)}});
  }
  va_end(args);
}

void RawDumpBytes(Env& env, const void* bytes, size_t length) {
  Append(env, {{"BINARY[", 7}, {bytes, length}, {"]END\n", 5}});
}

}  // namespace qb
