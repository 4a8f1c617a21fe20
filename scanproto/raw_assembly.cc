#include "scanproto/raw_assembly.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "imaging/page_files.h"
#include "imaging/pdf/hg_tiff2pdf.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "scanproto/reception_support.h"
#include "storage/file_naming.h"
#include "storage/path_parts.h"

namespace qb {
namespace {

// The coder writes least significant bit first.
constexpr int kFillOrderLsbFirst = 1;

void SetOutputPath(ScanJob& job, const std::string& path) {
  std::snprintf(job.outputPath, sizeof job.outputPath, "%s", path.c_str());
}

// The name a PDF's TIFF keeps when the conversion fails: the PDF's name
// with ".tif".
std::string TiffInsteadOf(const std::string& pdfPath) {
  const PathParts parts = SplitPath(pdfPath);
  return parts.drive + parts.directory + parts.baseName + ".tif";
}

// Writes pages into the staging file of `target` (a destination file, or
// a temporary TIFF outside any destination when `staged` is false).
bool Assemble(ScanJob& job, int firstPage, const std::string& target, int pages,
              bool staged = true) {
  const std::string path = staged ? StagingPathFor(job, target, true) : target;
  if (!path.empty() && WriteTiff(job.tempJobNo, firstPage, job.coder.CodingMode(),
                                 kFillOrderLsbFirst, path.c_str(), pages)) {
    return true;
  }
  // Never keep a TIFF that lacks pages.
  if (staged) {
    job.files->Drop(target);
  } else {
    RemoveFile(target);
  }
  return false;
}

// The PDF made from a temporary TIFF into the staging file of `target`.
bool ConvertToPdf(ScanJob& job, const std::string& tiff, const std::string& target) {
  const std::string path = StagingPathFor(job, target, true);
  if (!path.empty() && hgTiff2Pdf(tiff.c_str(), path.c_str(), 0, 0, 0) == kTiff2PdfOk) return true;
  job.files->Drop(target);
  return false;
}

// Keeps a temporary TIFF as the document file `kept`.
bool KeepTiff(ScanJob& job, const std::string& tiff, const std::string& kept) {
  const std::string path = StagingPathFor(job, kept, true);
  if (!path.empty() && RenameFile(tiff, path)) return true;
  job.files->Drop(kept);
  return false;
}

void PdfOneFile(ScanJob& job, const std::string& extension) {
  const std::string target = DocumentPageName(job, 0, extension);
  const std::string tiff = TempTifName(job.tempJobNo, 0);
  if (!Assemble(job, 0, tiff, job.pageCount, false)) {
    TraceLog("  PDF make Error1");
    job.fileOk = 0;
    return;
  }
  if (ConvertToPdf(job, tiff, target)) {
    RemoveFile(tiff);
    SetOutputPath(job, target);
    return;
  }
  // The pages are still worth having: the document is kept as TIFF.
  const std::string kept = TiffInsteadOf(target);
  if (KeepTiff(job, tiff, kept)) {
    SetOutputPath(job, kept);
  } else {
    RemoveFile(tiff);
    job.fileOk = 0;
  }
}

void PdfFilePerPage(ScanJob& job, const std::string& extension) {
  for (int i = 0; i < job.pageCount; ++i) {
    const std::string target = DocumentPageName(job, i + 1, extension);
    const std::string tiff = RenumberFileName(TempTifName(job.tempJobNo, i), i + 1);
    if (!Assemble(job, i, tiff, 1, false)) {
      job.fileOk = 0;
      return;
    }
    if (ConvertToPdf(job, tiff, target)) {
      TraceLog("  PDF make Error 0");
      RemoveFile(tiff);
      if (i == 0) SetOutputPath(job, DocumentPageTitle(job, 1, extension));
      continue;
    }
    // Unlike the one-file way, a failed page fails the document, although
    // its TIFF stays in the folder.
    const std::string kept = TiffInsteadOf(target);
    if (KeepTiff(job, tiff, kept)) {
      TraceLog("  PDF make Error 1");
      TraceLog("  PDF make change %s to", tiff.c_str());
      TraceLog("  %s to", kept.c_str());
    } else {
      TraceLog("  PDF make Error 2");
    }
    RemoveFile(tiff);
    job.fileOk = 0;
    return;
  }
}

void TiffOneFile(ScanJob& job, const std::string& extension) {
  const std::string target = DocumentPageName(job, 0, extension);
  TraceLog("  Debug T3 JobNo=%d", static_cast<int>(job.tempJobNo));
  TraceLog("  Debug T3 TiffFile=%s", target.c_str());
  TraceLog("  Debug T3 rcvImgNum=%d", job.pageCount);
  if (!Assemble(job, 0, target, job.pageCount)) job.fileOk = 0;
  SetOutputPath(job, target);
}

void TiffFilePerPage(ScanJob& job, const std::string& extension) {
  for (int i = 0; i < job.pageCount; ++i) {
    if (!Assemble(job, i, DocumentPageName(job, i + 1, extension), 1)) {
      job.fileOk = 0;
      return;
    }
    if (i == 0) SetOutputPath(job, DocumentPageTitle(job, 1, extension));
  }
}

}  // namespace

void AssembleRawDocument(ScanJob& job) {
  const std::string extension = ExtensionOfPath(job.outputPath);
  const bool pdf = std::strncmp(job.imageHeader.formatName, "PDF", 3) == 0;
  if (job.pageCount <= 0) {
    job.fileOk = 0;  // no page ended: there is nothing to store
  } else if (pdf && job.multiPage == 1) {
    PdfOneFile(job, extension);
  } else if (pdf) {
    PdfFilePerPage(job, extension);
  } else if (job.multiPage == 1) {
    TiffOneFile(job, extension);
  } else {
    TiffFilePerPage(job, extension);
  }
  // A failed assembly stops early; the pages it did not reach, and a page
  // that never ended, go too.
  DeleteRawPageFiles(job);
}

}  // namespace qb
