// Turns the raw road's temporary page files into the document's files in
// the destination folder: one multi-page file or one file per page, as
// TIFF or converted to PDF.
#pragma once

#include "scanproto/scan_job.h"

namespace qb {

// Assembles job.pageCount pages (coded in job.coder.CodingMode()) from the
// job's temporary page files. Sets job.outputPath to the stored document
// (for one file per page: the first page's file name without folder) and
// job.fileOk to 0 when the document could not be made. Afterwards no
// temporary file of the job is left, and no partly written output.
void AssembleRawDocument(ScanJob& job);

}  // namespace qb
