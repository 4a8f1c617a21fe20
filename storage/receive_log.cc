#include "storage/receive_log.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/global_lock.h"
#include "storage/bounded_text.h"
#include "storage/data_files.h"
#include "storage/log_time.h"
#include "storage/name_cleaning.h"
#include "storage/path_parts.h"
#include "storage/text_lines.h"

namespace qb {
namespace {

// Lines are read in pieces of at most 519 bytes, each piece counting as a
// line, as the other readers of the file do.
constexpr int kLogLineBuffer = 520;

// Every column holds text that came from a printer: it may neither add a
// field nor start a line of its own.
std::string Field(std::string text) {
  RemoveControlsAndSemicolons(&text);
  return text;
}

std::string ScannerColumn(const StoredDocument& document) {
  const std::string& sender =
      document.senderName.empty() ? document.requestSenderName : document.senderName;
  return CutToBytes(Field(sender), kScannerColumnBytes);
}

// The folder without its trailing separator. Linux has no drive letter to
// keep for a file in the root, so the root stays "/" instead of becoming
// an empty column.
std::string FolderColumn(const PathParts& parts) {
  std::string folder = FolderOf(parts);
  if (folder.size() > 1) folder.pop_back();
  return folder;
}

// Appends one line and its line feed under GlobalLock, then keeps the log
// at List entries; true when the line feed was written. Deliberately the
// receiver's own work: on Windows the configuration program trims the log,
// and on Linux there is none to do it, so the log would grow without end.
bool AppendLine(Env& env, std::string line) {
  GlobalLockGuard hold;
  std::unique_ptr<WritableFile> log;
  if (!env.NewWritableFile(SharedDataFilePath(kReceiveLogName), CreateMode::kAppend, &log))
    return false;
  line += '\n';
  bool written = log->Append(line.data(), line.size()).ok();
  if (!log->Close()) written = false;
  TrimReceiveLog(env);
  return written;
}

bool StartsWithHeaderMark(const std::string& line) { return line.compare(0, 2, "//") == 0; }

}  // namespace

bool LogStoredDocument(const StoredDocument& document, bool normal, Env& env) {
  PathParts parts = SplitPath(document.outputPath);
  std::string name = Field(parts.baseName + parts.extension);
  std::string line = MakeLogDateTime();
  line += normal ? " *;" : "  ;";
  line += ScannerColumn(document) + ";";
  line += (normal ? name : "*** " + name + " ***") + ";";
  line += std::to_string(document.fileCount) + ";";
  line += Field(FolderColumn(parts));
  return AppendLine(env, std::move(line));
}

bool LogFaxNotice(const FaxNotice& notice, Env& env) {
  // Appended piece by piece: g++ 12 at -O3 mistakes `"text" + string` for
  // an overlapping copy (-Wrestrict).
  std::string line = Field(notice.dateText);
  line += " *;";
  line += Field(notice.textB);
  if (!notice.textC.empty()) {
    line += ' ';
    line += Field(notice.textC);
  }
  line += ';';
  line += Field(notice.textF);
  line += ";1;";
  line += Field(notice.textE);
  line += ';';
  line += Field(notice.textD);
  return AppendLine(env, std::move(line));
}

void TouchReceiveLog(Env& env) {
  GlobalLockGuard hold;
  std::unique_ptr<WritableFile> log;
  if (env.NewWritableFile(SharedDataFilePath(kReceiveLogName), CreateMode::kAppend, &log))
    log->Close();
}

void TrimReceiveLog(Env& env) {
  GlobalLockGuard hold;
  std::vector<std::string> lines;
  if (!ReadTextLines(env, SharedDataFilePath(kReceiveLogName), kLogLineBuffer, &lines)) return;

  std::vector<std::string> kept;
  bool strayHeader = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!StartsWithHeaderMark(lines[i])) {
      kept.push_back(std::move(lines[i]));
    } else if (i > 0) {
      // A log that was only ever appended to has no header: its first line
      // is the oldest entry and is kept as one rather than thrown away.
      strayHeader = true;
    }
  }

  long long limit = GetList();
  long long excess = static_cast<long long>(kept.size()) - limit;
  if (excess < 0) excess = 0;
  if (!strayHeader && excess == 0) return;

  // Written beside the log, synced, and put in its place whole, so that a
  // crash in between leaves the old log rather than half of one.
  std::string text = std::string(kReceiveLogHeader) + "\n";
  for (size_t i = static_cast<size_t>(excess); i < kept.size(); ++i) text += kept[i];
  const std::string partPath = SharedDataFilePath((std::string(kReceiveLogName) + ".part").c_str());
  const std::string logPath = SharedDataFilePath(kReceiveLogName);
  if (!WriteWholeFile(env, partPath, text, true) || !env.Rename(partPath, logPath)) {
    env.Remove(partPath);
    return;
  }
  env.SyncFolder(logPath.substr(0, logPath.rfind('/') + 1));
}

// For the callers that have no Env of their own yet (app/main_window.cc).

}  // namespace qb
