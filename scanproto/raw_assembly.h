// Turns the raw road's temporary page files into the document's files in
// the destination folder: one multi-page file or one file per page, as
// TIFF or converted to PDF.
#pragma once

#include "scanproto/document.h"

namespace qb {

// Assembles doc.pageCount pages (coded in doc.coder.CodingMode()) from the
// document's temporary page files. Sets doc.outputPath to the stored
// document (for one file per page: the first page's file name without
// folder) and clears doc.fileOk when the document could not be made.
// Afterwards no temporary file of the document is left, and no partly
// written output.
void AssembleRawDocument(Document& doc);

}  // namespace qb
