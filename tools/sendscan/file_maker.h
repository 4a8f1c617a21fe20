// Files that the receiver's checks accept, for trying the file road
// without a printer: one-bit pages coded with T.6 (MMR) by the receiver's
// own fax coder, written as a TIFF in the receiver's directory layout or as
// a PDF 1.4 with its information object just before the cross-reference
// table, as printers write them.
#pragma once

#include <string>
#include <vector>

#include "tools/sendscan/bitmap.h"

namespace qb::sendscan {

// Writes `pages` at `dpi` to `path`. False with `error` set when a page
// cannot be coded or the file cannot be written; a failed write leaves no
// file behind.
bool WriteFaxTiff(const std::string& path, const std::vector<Bitmap>& pages, int dpi,
                  std::string* error);
bool WritePrinterPdf(const std::string& path, const std::vector<Bitmap>& pages, int dpi,
                     std::string* error);

// Runs the receiver's check for the file's form (1 TIFF, 4 JPEG, 5 PDF) on
// the file at `path`. Returns "" when it passes, else the reason in words.
// `deferredNotify` is the receiver's mode for jobs sent without meta data.
std::string PreCheckFile(const std::string& path, int dataForm, bool deferredNotify);

}  // namespace qb::sendscan
