#include "scanproto/reception_support.h"

#include <cstdio>

#include "imaging/page_files.h"
#include "platform/event_loop.h"
#include "platform/files.h"
#include "scanproto/connection_server.h"
#include "scanproto/received_header.h"
#include "storage/disk_space.h"
#include "storage/file_naming.h"
#include "storage/path_parts.h"

namespace qb {

uint32_t FolderFreeBytes(const char* folder) {
  const ScanServerHooks& hooks = ServerHooks();
  if (!hooks.freeBytes) return GetFreeBytes(folder);
  const uint64_t bytes = hooks.freeBytes(folder);
  return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

void SetTrayState(int state) { SendToMainWindow(WM_COMMAND, kCmdTrayState, state); }

std::string DocumentPageTitle(const ScanJob& job, int number, const std::string& extension) {
  return MakeNumberedName(job.baseName, number, static_cast<int>(job.numberWidth),
                          extension.c_str());
}

std::string DocumentPageName(const ScanJob& job, int number, const std::string& extension) {
  return std::string(job.folderPath) + "/" + DocumentPageTitle(job, number, extension);
}

std::string ExtensionOfPath(const char* path) { return SplitPath(path).extension; }

void DeleteRawPageFiles(ScanJob& job) {
  if (job.pageFile != nullptr) {
    std::fclose(job.pageFile);
    job.pageFile = nullptr;
  }
  job.coder.output = nullptr;
  for (int i = 0; i <= job.pageCount; ++i) RemoveFile(TempDatName(i, job.tempJobNo));
}

void DiscardJobFiles(ScanJob& job) {
  // Temporary page numbers start at 1, so a job that never made one (0)
  // has nothing of its own in the temporary folder.
  if (job.tempJobNo != 0 && HeaderField16(job, kHeaderDataForm) == kDataFormRaw) {
    DeleteRawPageFiles(job);
  }
  CleanupDocument(job);
}

}  // namespace qb
