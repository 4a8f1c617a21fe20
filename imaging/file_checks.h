// Plausibility checks of finished TIFF, JPEG and PDF files received from a
// printer. Each check reads the open file from its start through its own
// position; every read is bounded, so a truncated or hostile file fails the
// check instead of harming the reader.
#pragma once

#include <cstdint>

#include "platform/env.h"

namespace qb {

// The forms of a received file, as the image header names them (0 is the
// raw road's bitmap lines, which are not a file to check).
constexpr uint16_t kDataFormTiff = 1;
constexpr uint16_t kDataFormJpeg = 4;
constexpr uint16_t kDataFormPdf = 5;

// Result codes: 0 passes; the caller only tells 0 from the rest.
enum : int {
  kCheckPassed = 0,
  kTiffReadError = 11,
  kTiffFormatError = 13,
  kJpegReadError = 21,  // also: X density not allowed
  kJpegFormatError = 23,
  kPdfReadError = 31,
  kPdfFormatError = 33,
};

// The TIFF check: byte order, magic 42, and the first directory's
// XResolution (numerator / denominator) must be 100, 200, 300, 400 or 600
// dpi, or 1200 or 2400 when `deferredNotify` is set.
int CheckTiffFile(const ReadableFile& file, bool deferredNotify);

// The JPEG check: the JFIF signature FF D8 FF E0 00 10 "JFIF" 00, an
// allowed X density (as for TIFF) and a Y density of 100, 200, 300, 400,
// 600, 1200 or 2400.
int CheckJpegFile(const ReadableFile& file, bool deferredNotify);

// The PDF check: "%PDF-1." header, "%%EOF" six bytes before the end, a
// "startxref" within the last 150 bytes pointing at an "xref" line, and the
// document-information layout the printers' PDF library writes (minor
// versions 2 and 4; an encrypted 1.4 file passes without it).
int CheckPdfFile(const ReadableFile& file, bool deferredNotify);

// Runs the check of `dataForm` (1 TIFF, 4 JPEG, 5 PDF) on `file` from its
// start. Any other form fails. True when the file passes.
bool CheckReceivedFile(const ReadableFile& file, int dataForm, bool deferredNotify);

// As CheckReceivedFile, but telling a file whose content fails from one the
// disk would not give back (a read that failed, not one that came short):
// the first is the sender's fault, the second a file that was not stored.
enum class FileVerdict { kPassed, kRefused, kUnreadable };
FileVerdict JudgeReceivedFile(const ReadableFile& file, int dataForm, bool deferredNotify);

}  // namespace qb
