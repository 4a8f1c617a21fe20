// Small steps shared by image reception and document completion: disk
// measurements, the tray state, the names of a document's files and the
// removal of everything an unfinished document left behind.
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"
#include "scanproto/document.h"
#include "storage/receiver_events.h"
#include "storage/disk_space.h"

namespace qb {

void SetTrayState(const ReceiverEvents& hooks, int state);

// True while the open page file is a raw-road temporary page file: only
// then does the fax coder write into it.
inline bool CodingIntoPageFile(const Document& doc) {
  return doc.pageFile.IsOpen() && doc.coder.WritesInto(doc.pageFile);
}

// Full path of page `number` of the document: folder, then the page name
// of the reserved base name with `extension` (dot included).
std::string DocumentPageName(const Document& doc, int number, const std::string& extension);
// The page name alone, without folder.
std::string DocumentPageTitle(const Document& doc, int number, const std::string& extension);

// Extension of the file name of `path`, dot included, or "".
std::string ExtensionOfPath(const char* path);

// Closes the page file and deletes the raw road's temporary page files
// 0 to pageCount (the last one may be a page that never ended).
void DeleteRawPageFiles(Document& doc);

// Everything an unfinished document leaves behind: the open page file,
// its temporary page files and the files it has not yet put in place in the
// destination folder. Files of documents already completed are never
// touched.
void DiscardDocumentFiles(Document& doc);

// A file of the document that had to move from `from` to `to` when it was
// put in place (its name was taken meanwhile): outputPath and saveFileTitle
// follow it.
void FollowDocumentMove(Document& doc, const std::string& from, const std::string& to);

// The path a destination file of the document is written through: the
// staging file of `finalPath`, started afresh when `fresh` is set or when
// the document has none yet. Empty when it cannot be created.
std::string StagingPathFor(Document& doc, const std::string& finalPath, bool fresh);

}  // namespace qb
