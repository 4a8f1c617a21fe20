#include "scanproto/raw_assembly.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "imaging/page_files.h"
#include "imaging/pdf/hg_tiff2pdf.h"
#include "platform/env.h"
#include "platform/trace.h"
#include "scanproto/reception_support.h"
#include "storage/file_naming.h"
#include "storage/path_parts.h"

namespace qb {
namespace {

// The coder writes least significant bit first.
constexpr int kFillOrderLsbFirst = 1;

void SetOutputPath(Document& doc, const std::string& path) {
  std::snprintf(doc.outputPath, sizeof doc.outputPath, "%s", path.c_str());
}

// The name a PDF's TIFF keeps when the conversion fails: the PDF's name
// with ".tif".
std::string TiffInsteadOf(const std::string& pdfPath) {
  const PathParts parts = SplitPath(pdfPath);
  return parts.drive + parts.directory + parts.baseName + ".tif";
}

// Writes pages into the staging file of `target` (a destination file, or
// a temporary TIFF outside any destination when `staged` is false).
bool Assemble(Document& doc, int firstPage, const std::string& target, int pages,
              bool staged = true) {
  const std::string path = staged ? StagingPathFor(doc, target, true) : target;
  if (!path.empty() && WriteTiff(doc.tempJobNo, firstPage, doc.coder.CodingMode(),
                                 kFillOrderLsbFirst, path.c_str(), pages, doc.env())) {
    return true;
  }
  // Never keep a TIFF that lacks pages.
  if (staged) {
    doc.files.Drop(target);
  } else {
    doc.env().Remove(target);
  }
  return false;
}

// The PDF made from a temporary TIFF into the staging file of `target`.
bool ConvertToPdf(Document& doc, const std::string& tiff, const std::string& target) {
  const std::string path = StagingPathFor(doc, target, true);
  if (!path.empty() && hgTiff2Pdf(tiff.c_str(), path.c_str(), 0, 0, 0, doc.env()) == kTiff2PdfOk) {
    return true;
  }
  doc.files.Drop(target);
  return false;
}

// Keeps a temporary TIFF as the document file `kept` (copied when the
// temporary folder is on another file system than the destination).
bool KeepTiff(Document& doc, const std::string& tiff, const std::string& kept) {
  const std::string path = StagingPathFor(doc, kept, true);
  if (!path.empty() && MoveFile(doc.env(), tiff, path).ok()) return true;
  doc.files.Drop(kept);
  return false;
}

void PdfOneFile(Document& doc, const std::string& extension) {
  const std::string target = DocumentPageName(doc, 0, extension);
  const std::string tiff = TempTifName(doc.tempJobNo, 0);
  if (!Assemble(doc, 0, tiff, doc.pageCount, false)) {
    TraceLog("  PDF make Error1");
    doc.fileOk = false;
    return;
  }
  if (ConvertToPdf(doc, tiff, target)) {
    doc.env().Remove(tiff);
    SetOutputPath(doc, target);
    return;
  }
  // The pages are still worth having: the document is kept as TIFF.
  const std::string kept = TiffInsteadOf(target);
  if (KeepTiff(doc, tiff, kept)) {
    SetOutputPath(doc, kept);
  } else {
    doc.env().Remove(tiff);
    doc.fileOk = false;
  }
}

void PdfFilePerPage(Document& doc, const std::string& extension) {
  for (int i = 0; i < doc.pageCount; ++i) {
    const std::string target = DocumentPageName(doc, i + 1, extension);
    const std::string tiff = RenumberFileName(TempTifName(doc.tempJobNo, i), i + 1);
    if (!Assemble(doc, i, tiff, 1, false)) {
      doc.fileOk = false;
      return;
    }
    if (ConvertToPdf(doc, tiff, target)) {
      TraceLog("  PDF make Error 0");
      doc.env().Remove(tiff);
      if (i == 0) SetOutputPath(doc, DocumentPageTitle(doc, 1, extension));
      continue;
    }
    // Unlike the one-file way, a failed page fails the document, although
    // its TIFF stays in the folder.
    const std::string kept = TiffInsteadOf(target);
    if (KeepTiff(doc, tiff, kept)) {
      TraceLog("  PDF make Error 1");
      TraceLog("  PDF make change %s to", tiff.c_str());
      TraceLog("  %s to", kept.c_str());
    } else {
      TraceLog("  PDF make Error 2");
    }
    doc.env().Remove(tiff);
    doc.fileOk = false;
    return;
  }
}

void TiffOneFile(Document& doc, const std::string& extension) {
  const std::string target = DocumentPageName(doc, 0, extension);
  TraceLog("  Debug T3 JobNo=%d", static_cast<int>(doc.tempJobNo));
  TraceLog("  Debug T3 TiffFile=%s", target.c_str());
  TraceLog("  Debug T3 rcvImgNum=%d", doc.pageCount);
  if (!Assemble(doc, 0, target, doc.pageCount)) doc.fileOk = false;
  SetOutputPath(doc, target);
}

void TiffFilePerPage(Document& doc, const std::string& extension) {
  for (int i = 0; i < doc.pageCount; ++i) {
    if (!Assemble(doc, i, DocumentPageName(doc, i + 1, extension), 1)) {
      doc.fileOk = false;
      return;
    }
    if (i == 0) SetOutputPath(doc, DocumentPageTitle(doc, 1, extension));
  }
}

}  // namespace

void AssembleRawDocument(Document& doc) {
  const std::string extension = ExtensionOfPath(doc.outputPath);
  const bool pdf = std::strncmp(doc.imageHeader.formatName, "PDF", 3) == 0;
  if (doc.pageCount <= 0) {
    doc.fileOk = false;  // no page ended: there is nothing to store
  } else if (pdf && doc.multiPage) {
    PdfOneFile(doc, extension);
  } else if (pdf) {
    PdfFilePerPage(doc, extension);
  } else if (doc.multiPage) {
    TiffOneFile(doc, extension);
  } else {
    TiffFilePerPage(doc, extension);
  }
  // A failed assembly stops early; the pages it did not reach, and a page
  // that never ended, go too.
  DeleteRawPageFiles(doc);
}

}  // namespace qb
