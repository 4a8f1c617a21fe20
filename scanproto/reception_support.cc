#include "scanproto/reception_support.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "imaging/page_files.h"
#include "platform/event_loop.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "scanproto/connection_server.h"
#include "storage/disk_space.h"
#include "storage/file_naming.h"
#include "storage/path_parts.h"

namespace qb {

uint32_t FolderFreeBytes(const char* folder) { return GetFreeBytes(folder, ServerEnv()); }

void SetTrayState(int state) {
  if (ServerHooks().trayState) ServerHooks().trayState(state);
}

std::string DocumentPageTitle(const ScanJob& job, int number, const std::string& extension) {
  return MakeNumberedName(job.baseName, number, static_cast<int>(job.numberWidth),
                          extension.c_str());
}

std::string DocumentPageName(const ScanJob& job, int number, const std::string& extension) {
  return std::string(job.folderPath) + "/" + DocumentPageTitle(job, number, extension);
}

std::string ExtensionOfPath(const char* path) { return SplitPath(path).extension; }

void DeleteRawPageFiles(ScanJob& job) {
  job.pageFile.Close();
  job.coder.StopWriting();
  for (int i = 0; i <= job.pageCount; ++i) RemoveFile(TempDatName(i, job.tempJobNo));
}

void DiscardJobFiles(ScanJob& job) {
  // Temporary page numbers start at 1, so a job that never made one (0)
  // has nothing of its own in the temporary folder. One that did may have
  // gone on with a file since: the kept header no longer tells.
  if (job.tempJobNo != 0) DeleteRawPageFiles(job);
  if (job.pageFile.IsOpen()) {
    job.pageFile.Close();
    job.coder.StopWriting();
  }
  job.files->DropAll();
  job.pageCount = 0;
}

namespace {

void FollowMove(char* field, size_t size, const std::string& from, const std::string& to) {
  const std::string fromTitle = SplitPath(from).baseName + SplitPath(from).extension;
  const std::string toTitle = SplitPath(to).baseName + SplitPath(to).extension;
  if (from == field) {
    std::snprintf(field, size, "%s", to.c_str());
  } else if (fromTitle == field) {
    std::snprintf(field, size, "%s", toTitle.c_str());
  }
}

}  // namespace

bool CommitDocumentFiles(ScanJob& job) {
  std::vector<std::pair<std::string, std::string>> moved;
  const bool ok = job.files->Commit(GetOverWrite(), &moved);
  for (const auto& [from, to] : moved) {
    TraceLog("  Save FName=%s", to.c_str());
    FollowMove(job.outputPath, sizeof job.outputPath, from, to);
    FollowMove(job.saveFileTitle, sizeof job.saveFileTitle, from, to);
  }
  return ok;
}

std::string StagingPathFor(ScanJob& job, const std::string& finalPath, bool fresh) {
  if (finalPath.empty()) return {};
  if (!fresh) {
    std::string staging = job.files->StagingPathOf(finalPath);
    if (!staging.empty()) return staging;
  }
  return job.files->Begin(finalPath);
}

}  // namespace qb
