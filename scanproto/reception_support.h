// Small steps shared by image reception and document completion: disk
// measurements, the tray state, the names of a document's files and the
// removal of everything an unfinished document left behind.
#pragma once

#include <cstdint>
#include <string>

#include "scanproto/scan_job.h"

namespace qb {

// Tray icon states sent to the main window.
enum : int { kTrayNormal = 1, kTrayWarning = 2, kTrayFull = 3 };

// Free bytes of the volume holding `folder`, through the server's hook when
// one is set (tests), saturated to 32 bits as the job keeps them.
uint32_t FolderFreeBytes(const char* folder);

void SetTrayState(int state);

// True while the open page file is a raw-road temporary page file: only
// then does the fax coder write into it.
inline bool CodingIntoPageFile(const ScanJob& job) {
  return job.pageFile != nullptr && job.coder.output == job.pageFile;
}

// Full path of page `number` of the job's document: folder, then the page
// name of the reserved base name with `extension` (dot included).
std::string DocumentPageName(const ScanJob& job, int number, const std::string& extension);
// The page name alone, without folder.
std::string DocumentPageTitle(const ScanJob& job, int number, const std::string& extension);

// Extension of the file name of `path`, dot included, or "".
std::string ExtensionOfPath(const char* path);

// Closes the page file and deletes the raw road's temporary page files
// 0 to pageCount (the last one may be a page that never ended).
void DeleteRawPageFiles(ScanJob& job);

// Everything a job that goes away unfinished leaves behind: the open page
// file, its temporary page files and the document's files in the
// destination folder (only while outputPath is set, that is before the
// document was logged).
void DiscardJobFiles(ScanJob& job);

}  // namespace qb
