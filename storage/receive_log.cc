#include "storage/receive_log.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/files.h"
#include "platform/global_lock.h"
#include "storage/bounded_text.h"
#include "storage/data_files.h"
#include "storage/log_time.h"
#include "storage/name_cleaning.h"
#include "storage/path_parts.h"

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
bool AppendLine(const std::string& line) {
  GlobalLockGuard hold;
  std::FILE* log = OpenSharedDataFile(kReceiveLogName, "at+");
  if (log == nullptr) return false;
  std::fputs(line.c_str(), log);
  bool written = std::fputc('\n', log) != EOF;
  if (std::fclose(log) != 0) written = false;
  TrimReceiveLog();
  return written;
}

bool StartsWithHeaderMark(const char* line) { return line[0] == '/' && line[1] == '/'; }

}  // namespace

bool LogStoredDocument(const StoredDocument& document, bool normal) {
  PathParts parts = SplitPath(document.outputPath);
  std::string name = Field(parts.baseName + parts.extension);
  std::string line = MakeLogDateTime();
  line += normal ? " *;" : "  ;";
  line += ScannerColumn(document) + ";";
  line += (normal ? name : "*** " + name + " ***") + ";";
  line += std::to_string(document.fileCount) + ";";
  line += Field(FolderColumn(parts));
  return AppendLine(line);
}

bool LogFaxNotice(const FaxNotice& notice) {
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
  return AppendLine(line);
}

void TouchReceiveLog() {
  GlobalLockGuard hold;
  if (std::FILE* log = OpenSharedDataFile(kReceiveLogName, "at+")) std::fclose(log);
}

void TrimReceiveLog() {
  GlobalLockGuard hold;
  std::FILE* log = OpenSharedDataFile(kReceiveLogName, "rt");
  if (log == nullptr) return;

  std::vector<std::string> kept;
  bool strayHeader = false;
  char line[kLogLineBuffer];
  if (std::fgets(line, sizeof line, log) != nullptr && !StartsWithHeaderMark(line)) {
    // A log that was only ever appended to has no header: its first line
    // is the oldest entry and is kept as one rather than thrown away.
    kept.push_back(line);
  }
  while (std::fgets(line, sizeof line, log) != nullptr) {
    if (StartsWithHeaderMark(line)) {
      strayHeader = true;
    } else {
      kept.push_back(line);
    }
  }
  std::fclose(log);

  long long limit = GetList();
  long long excess = static_cast<long long>(kept.size()) - limit;
  if (excess < 0) excess = 0;
  if (!strayHeader && excess == 0) return;

  // Written beside the log and put in its place whole, so that a crash in
  // between leaves the old log rather than half of one.
  const std::string partName = std::string(kReceiveLogName) + ".part";
  log = OpenSharedDataFile(partName.c_str(), "wt");
  if (log == nullptr) return;
  std::fputs(kReceiveLogHeader, log);
  bool ok = std::fputc('\n', log) != EOF;
  for (size_t i = static_cast<size_t>(excess); i < kept.size() && ok; ++i)
    ok = std::fputs(kept[i].c_str(), log) != EOF;
  ok = std::fclose(log) == 0 && ok;
  if (!ok || !RenameFile(SharedDataFilePath(partName.c_str()), SharedDataFilePath(kReceiveLogName))) {
    RemoveFile(SharedDataFilePath(partName.c_str()));
  }
}

}  // namespace qb
