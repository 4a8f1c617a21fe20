#include "scanproto/reception_support.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "imaging/page_files.h"
#include "platform/env.h"
#include "platform/event_loop.h"
#include "platform/trace.h"
#include "storage/disk_space.h"
#include "storage/file_naming.h"
#include "storage/path_parts.h"

namespace qb {

void SetTrayState(const ReceiverEvents& hooks, int state) {
  if (hooks.trayState) hooks.trayState(state);
}

std::string DocumentPageTitle(const Document& doc, int number, const std::string& extension) {
  return MakeNumberedName(doc.baseName, number, static_cast<int>(doc.numberWidth),
                          extension.c_str());
}

std::string DocumentPageName(const Document& doc, int number, const std::string& extension) {
  return std::string(doc.folderPath) + "/" + DocumentPageTitle(doc, number, extension);
}

std::string ExtensionOfPath(const char* path) { return SplitPath(path).extension; }

void DeleteRawPageFiles(Document& doc) {
  doc.pageFile.Close();
  doc.coder.StopWriting();
  for (int i = 0; i <= doc.pageCount; ++i) doc.env().Remove(TempDatName(i, doc.tempJobNo));
}

void DiscardDocumentFiles(Document& doc) {
  // Temporary page numbers start at 1, so a document that never made one
  // (0) has nothing of its own in the temporary folder. One that did may have
  // gone on with a file since: the kept header no longer tells.
  if (doc.tempJobNo != 0) DeleteRawPageFiles(doc);
  if (doc.pageFile.IsOpen()) {
    doc.pageFile.Close();
    doc.coder.StopWriting();
  }
  doc.files.DropAll();
  doc.pageCount = 0;
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

void FollowDocumentMove(Document& doc, const std::string& from, const std::string& to) {
  FollowMove(doc.outputPath, sizeof doc.outputPath, from, to);
  FollowMove(doc.saveFileTitle, sizeof doc.saveFileTitle, from, to);
}

std::string StagingPathFor(Document& doc, const std::string& finalPath, bool fresh) {
  if (finalPath.empty()) return {};
  if (!fresh) {
    std::string staging = doc.files.StagingPathOf(finalPath);
    if (!staging.empty()) return staging;
  }
  return doc.files.Begin(finalPath);
}

}  // namespace qb
