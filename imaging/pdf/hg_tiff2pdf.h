// Conversion of a fax-coded TIFF (as assembled from the raw road's page
// files) into a PDF. Each TIFF page becomes one PDF page of the page's
// physical size; its coded strip is embedded unchanged as a CCITTFaxDecode
// image (bit-reversed first when the TIFF holds it least significant bit
// first), so nothing is decoded or re-coded.
#pragma once

#include "platform/env.h"

namespace qb {

// Results of hgTiff2Pdf.
enum : int {
  kTiff2PdfOk = 0,
  kTiff2PdfBadTiff = 1,      // the TIFF cannot be opened, read or described in PDF
  kTiff2PdfWriteFailed = 2,  // the PDF cannot be written
};

// Converts the TIFF at `tiffPath` into a PDF at `pdfPath`, replacing any
// file there only once the new PDF is complete. The three further arguments
// are reserved and must be 0. Returns kTiff2PdfOk when the PDF was written
// completely; on any failure no PDF (partial or otherwise) is left at
// `pdfPath` by this call and the TIFF is untouched. Files go through `env`.
int hgTiff2Pdf(const char* tiffPath, const char* pdfPath, int reserved1, int reserved2,
               int reserved3, Env& env);

}  // namespace qb
