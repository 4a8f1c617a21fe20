// The pages of a document: image header, data packets, page end, checksum
// and page delete. Two roads: finished files (TIFF, JPEG, PDF) are written
// straight into the destination folder; raw bitmap lines are fax-coded
// line by line into temporary page files that the end of data assembles.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/folders.h"
#include "config/settings.h"
#include "imaging/fax_coder.h"
#include "imaging/file_checks.h"
#include "imaging/image_header.h"
#include "imaging/page_files.h"
#include "platform/profile.h"
#include "platform/trace.h"
#include "scanproto/access_lock.h"
#include "scanproto/dispatcher.h"
#include "scanproto/handlers.h"
#include "scanproto/job_context.h"
#include "scanproto/received_header.h"
#include "scanproto/reception_support.h"
#include "storage/disk_space.h"
#include "storage/file_naming.h"
#include "storage/name_cleaning.h"
#include "storage/path_parts.h"
#include "storage/raw_dump.h"

namespace qb {
namespace {

constexpr uint32_t kClass3UnknownLength = 0xFFFFFFFF;
// Narrower lines hold no whole byte, and the coder codes whole bytes only.
constexpr uint16_t kMinRawWidth = 8;

void CopyText(char* target, size_t size, const std::string& text) {
  std::snprintf(target, size, "%s", text.c_str());
}

// The refusal of a printer the header step does not serve.
bool ClientRefused(const ScanJob& job, uint32_t dataLength) {
  const int peerClass = job.PeerClass();
  if (peerClass == kClassUndetermined) return false;
  return peerClass == kClassOther || job.majorVersion == 3 || job.listenPort == kDirectPort ||
         (peerClass == kClassGroupB && dataLength == kClass3UnknownLength);
}

bool ExtensionFitsDataForm(const std::string& name, uint16_t dataForm) {
  const char* wanted = nullptr;
  if (dataForm >= 1 && dataForm <= 3) wanted = ".tif";
  if (dataForm == kDataFormJpeg) wanted = ".jpg";
  if (dataForm == kDataFormPdf) wanted = ".pdf";
  if (wanted == nullptr) return true;
  const std::string extension = SplitPath(name).extension;
  if (extension.size() != std::strlen(wanted)) return false;
  for (size_t i = 0; i < extension.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(extension[i])) != wanted[i]) return false;
  }
  return true;
}

void Cancel(ScanJob& job) { SendPcCancel(job, kReasonPcCancel); }

// A document the receiver could not keep: dropped, and the printer is told
// (once) so that it does not take the document as delivered.
void FailDocument(ScanJob& job) {
  if (!job.document.discarding) Cancel(job);
  job.document.discarding = true;
}

// Every connection of the process draws its temporary page numbers here
// (on the loop's thread only), so numbers go on across jobs and restarts
// of the server.
TempPageCounter& TempPages() {
  static TempPageCounter counter;
  return counter;
}

// Raw road, step by step as the header asks: temporary page file name,
// coder, coding mode and, for the first page, the reserved output name.
// False when the page cannot be received at all.
bool PrepareRawPage(Document& doc, const ImageHeader& header) {
  if (!TempPages().MakeTempPageName(doc.pageCount, doc.curFilePath, sizeof doc.curFilePath,
                                    &doc.tempJobNo, doc.env())) {
    TraceLog("  ### no temporary page name");
    return false;
  }
  const PageLayout& layout = header.layout;
  const bool usable = layout.width >= kMinRawWidth && layout.height != 0;
  if (doc.pageCount == 0) {
    if (!doc.coder.SetUp(layout) || !usable) {
      doc.discarding = true;
    }
  } else {
    if (!usable) doc.discarding = true;
    doc.coder.Reset(layout);
  }
  doc.lineFill = 0;

  const char* extension = "tif";
  if (std::strcmp(header.formatName, "PDF-G4MMR") == 0) extension = "pdf";
  if (std::strcmp(header.formatName, "TIFF-G3MH") == 0) doc.coder.SetCodingMode(kFaxModeMH);

  if (doc.pageCount == 0) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d_000.", doc.jobNo);
    CopyText(doc.outputPath, sizeof doc.outputPath,
             std::string(header.documentName) + number + extension);
    std::string stem;
    int digits = 0;
    MakeUniqueFileName(std::string(doc.folderPath) + "/" + doc.outputPath, GetOverWrite(), nullptr,
                       &stem, &digits, doc.files.Owner(), doc.env());
    CopyText(doc.baseName, sizeof doc.baseName, stem);
    doc.numberWidth = static_cast<uint32_t>(digits);
  } else if (header.continuation == 0) {
    doc.multiPage = false;
  }
  return true;
}

// File road, first file of a document: the name to save under, checked
// against the data form, then reserved in the destination folder.
void NameFirstFile(ScanJob& job, const ImageHeader& header) {
  Document& doc = job.document;
  std::string name;
  if (std::strlen(header.documentName) + std::strlen(doc.fileName) >= 261) {
    name = "InvalidFile.xxx";
  } else if (doc.fileName[0] == '\0') {
    name = header.documentName;
  } else {
    name = std::string(doc.fileName) + "_000" + SplitPath(header.documentName).extension;
  }
  if (!ExtensionFitsDataForm(name, header.dataForm)) {
    // The file is still created; the end of data removes it with the rest.
    TraceLog("  ### Invalid File type!!!");
    doc.discarding = true;
    Cancel(job);
    LockClient(job.peerIp, job.context->env().WallSeconds());
  }
  std::string path, stem;
  int digits = 0;
  MakeUniqueFileName(std::string(doc.folderPath) + "/" + name, GetOverWrite(), &path, &stem,
                     &digits, doc.files.Owner(), doc.env());
  CopyText(doc.curFilePath, sizeof doc.curFilePath, path);
  CopyText(doc.outputPath, sizeof doc.outputPath, path);
  CopyText(doc.baseName, sizeof doc.baseName, stem);
  doc.numberWidth = static_cast<uint32_t>(digits);
  const PathParts parts = SplitPath(path);
  CopyText(doc.saveFileTitle, sizeof doc.saveFileTitle, parts.baseName + parts.extension);
  TraceLog("  Save FName=%s", doc.curFilePath);
}

// File road, a further file of the same document: numbered after the
// first, which is renamed to number 1 when the job has its own file name.
// No file of the document ever takes another's name: a name without page
// digits would give every file the first one's name, so such a document's
// further files are numbered "_002", "_003", ... And with OverWrite off a
// further file whose name is taken (in the folder, by a running job) moves
// on as the collision rule moves a first file: "doc(1)_002.tif".
void NameFurtherFile(Document& doc) {
  doc.multiPage = false;
  const std::string extension = ExtensionOfPath(doc.outputPath);
  if (doc.pageCount == 1 && doc.fileName[0] != '\0') {
    const std::string first = DocumentPageName(doc, 1, extension);
    doc.files.Rename(DocumentPageName(doc, 0, extension), first);
    CopyText(doc.outputPath, sizeof doc.outputPath, first);
    CopyText(doc.saveFileTitle, sizeof doc.saveFileTitle, DocumentPageTitle(doc, 1, extension));
  }
  if (doc.numberWidth == 0) doc.numberWidth = 3;
  std::string path = DocumentPageName(doc, doc.pageCount + 1, extension);
  DocumentFiles& files = doc.files;
  if (!GetOverWrite() || files.Holds(path)) {
    const PathParts parts = SplitPath(path);
    path = MakeFreeExactName(
        std::string(doc.folderPath) + "/", parts.baseName + parts.extension, files.Owner(),
        [&files](const std::string& taken) { return files.Holds(taken); }, doc.env());
  }
  CopyText(doc.curFilePath, sizeof doc.curFilePath, path);
  TraceLog("  Save FName=%s", doc.curFilePath);
}

// Opens the page's file: the temporary page file on the raw road, the
// staging file of the destination file on the file road.
PageFile OpenPageFile(Document& doc, bool rawRoad, bool continuation) {
  const std::string path =
      rawRoad ? std::string(doc.curFilePath) : StagingPathFor(doc, doc.curFilePath, !continuation);
  if (path.empty()) return PageFile();
  if (rawRoad) return PageFile::OpenForCoder(doc.env(), path);
  return PageFile::Open(doc.env(), path, continuation);
}

// Gathers the packet into whole lines and codes them; lines beyond the
// announced height are dropped, so a page never grows past its header.
void CodeRawPacket(Document& doc, uint8_t* data, size_t length) {
  const PageLayout& layout = doc.imageHeader.layout;
  const uint16_t packing = layout.pixelPacking;
  if (packing == 2 || packing == 3) SwapWordBytes(data, length);
  const uint32_t lineBytes = static_cast<uint32_t>(doc.coder.BytesPerLine());
  if (lineBytes == 0 || lineBytes > kLineBufSize) return;
  for (size_t used = 0; used < length;) {
    // Lines that lie whole in the packet are coded where they lie, all in
    // one call; only lines split between packets are gathered in the line
    // buffer.
    const uint8_t* lines = data + used;
    size_t count = 1;
    if (doc.lineFill == 0 && length - used >= lineBytes) {
      count = (length - used) / lineBytes;
      used += count * lineBytes;
    } else {
      size_t take = lineBytes - doc.lineFill;
      if (take > length - used) take = length - used;
      std::memcpy(doc.lineBuf + doc.lineFill, data + used, take);
      doc.lineFill += static_cast<uint32_t>(take);
      used += take;
      if (doc.lineFill < lineBytes) break;
      doc.lineFill = 0;
      lines = doc.lineBuf;
    }
    // Lines beyond the announced height are dropped.
    const size_t room = layout.height - std::min(doc.coder.LinesCoded(), layout.height);
    if (room == 0) continue;
    if (doc.coder.CodeLines(lines, std::min(count, room)) < 0) {
      TraceLog("  G3_Encode Error");
      return;
    }
  }
}

}  // namespace

void OnImageHeader(ScanJob& job, uint8_t* body, size_t length) {
  Document& doc = job.document;
  if (RawDumpEnabled()) {
    RawDumpPrintf(doc.env(), "tvRcvImgHeader szSavePath=%s\n", doc.folderPath);
  }
  job.imageDataMode = true;

  ImageHeader header;
  ParseImageHeader(body, length, &header);
  TraceLog("  DataLength:%ld", static_cast<long>(header.dataLength));
  const VolumeSpace space = MeasureVolume(doc.folderPath, job.context->env());
  doc.hddFreeBytes = space.freeBytes;
  TraceLog("  HDD Free Bytes:%ld", static_cast<long>(doc.hddFreeBytes));
  TraceFreePercent(space.freePercent);
  if (header.valid) {
    RemoveControlsAndSemicolons(header.documentName);
    ReplaceInvalidNameChars(header.documentName);
  }

  const bool refused = ClientRefused(job, header.dataLength);
  if (refused) {
    doc.discarding = true;
    Cancel(job);
  }
  if (refused || !header.valid) {
    // An accepted printer with a broken header gets no cancel here: its
    // data are dropped and the end of data answers as for any failure.
    doc.discarding = true;
    TraceLog("  ### Invalid Client!!!");
    LockClient(job.peerIp, job.context->env().WallSeconds());
    return;
  }
  if (doc.folderPath[0] == '\0') {
    // No parameter request has found a destination: with an empty folder
    // the file would land at the top of the file system.
    doc.discarding = true;
    TraceLog("  ### No destination folder");
    Cancel(job);
    return;
  }
  if (doc.hddFreeBytes < kDiskFullLimit) {
    doc.discarding = true;
    SetTrayState(job.context->hooks(), kTrayFull);
    Cancel(job);
    return;
  }
  if (GetHDD() <= 100 - space.freePercent) SetTrayState(job.context->hooks(), kTrayWarning);

  doc.imageHeader = header;
  // A page file left open by a page that never ended is closed before the
  // next one takes its place.
  doc.pageFile.Close();
  doc.coder.StopWriting();

  const bool rawRoad = header.dataForm == kDataFormRaw && job.majorVersion == 1;
  if (rawRoad) {
    if (!PrepareRawPage(doc, header)) {
      doc.fileOk = false;
      Cancel(job);
      return;
    }
  } else if (header.continuation == 0) {
    if (doc.pageCount == 0) {
      NameFirstFile(job, header);
    } else {
      NameFurtherFile(doc);
    }
  }

  doc.pageFile = OpenPageFile(doc, rawRoad, header.continuation != 0);
  if (!doc.pageFile.IsOpen()) {
    doc.fileOk = false;
    Cancel(job);
    return;
  }
  doc.fileOk = true;
  if (rawRoad) {
    doc.coder.WriteInto(&doc.pageFile);
    doc.pageFile.Write(doc.imageHeader.record, kImageHeaderSize);
  }
}

bool AcceptImageData(ScanJob& job, size_t length) {
  Document& doc = job.document;
  if (length > kMaxRxBody) return false;  // the framing never delivers more
  doc.rcvTotalImgBytes += static_cast<uint32_t>(length);
  // Unsigned on purpose, as the printers expect: once more has arrived
  // than was free, the difference wraps and the check no longer stops it.
  if (doc.hddFreeBytes - doc.rcvTotalImgBytes < kDiskFullLimit) {
    doc.discarding = true;
    Cancel(job);
    SetTrayState(job.context->hooks(), kTrayFull);
    TraceLog("  HDD Full になりました");
    return false;
  }
  return true;
}

void CodeImageRun(Document& doc, uint8_t* begin, uint8_t* end) {
  while (end - begin > 2) {
    const size_t length = static_cast<size_t>(begin[0] << 8 | begin[1]);
    if (length > static_cast<size_t>(end - begin - 2)) return;  // never past the run
    CodeRawPacket(doc, begin + 2, length);
    begin += 2 + length;
  }
}

void OnImageData(ScanJob& job, uint8_t* data, size_t length) {
  Document& doc = job.document;
  if (!AcceptImageData(job, length)) return;
  if (doc.imageHeader.dataForm == kDataFormRaw) {
    // Coded right here; the framing decides whether "here" is the loop or
    // a worker (see connection_input.cc).
    if (CodingIntoPageFile(doc)) CodeRawPacket(doc, data, length);
    return;
  }
  // Without an open file (the header could not open it, or a write failed)
  // the packet is dropped: recreating the file here would leave a file
  // that lacks its beginning.
  if (!doc.pageFile.IsOpen()) return;
  const size_t written = doc.pageFile.Write(data, length);
  if (written < length) {
    TraceLog("fwrite() Error %ld/%ld", static_cast<long>(written), static_cast<long>(length));
    doc.pageFile.Close();
    FailDocument(job);
  }
  uint16_t sum = doc.checksum;
  for (size_t i = 0; i < length; ++i) sum = static_cast<uint16_t>(sum + data[i]);
  doc.checksum = sum;
}

void OnPageEnd(ScanJob& job, uint8_t* body, size_t length) {
  Document& doc = job.document;
  const uint16_t status = BodyWord(body, length, 2);
  job.imageDataMode = false;
  const bool raw = CodingIntoPageFile(doc);
  if (status == 0) {
    if (raw) {
      if (!doc.discarding && doc.coder.FinishPage() < 0) TraceLog("  G3_Encode Error");
    }
    if (doc.pageFile.IsOpen()) ++doc.pageCount;
  }
  if (!doc.pageFile.IsOpen()) return;
  // A page the disk did not take whole (a coded line or a write that
  // failed, a close that could not flush) is the receiver's failure: the
  // printer is told at once. A file whose content fails its check is the
  // printer's, as ever.
  FileVerdict verdict = FileVerdict::kPassed;
  if (raw && doc.coder.WriteFailed()) verdict = FileVerdict::kUnreadable;
  if (!doc.pageFile.Close()) verdict = FileVerdict::kUnreadable;
  doc.coder.StopWriting();
  if (verdict == FileVerdict::kPassed && !raw) {
    std::unique_ptr<ReadableFile> written;
    verdict = doc.env().OpenReadable(doc.pageFile.Path(), &written).ok()
                  ? JudgeReceivedFile(*written, doc.imageHeader.dataForm, job.deferredNotify)
                  : FileVerdict::kUnreadable;
  }
  if (verdict == FileVerdict::kPassed) return;
  doc.files.Drop(doc.curFilePath);
  if (verdict == FileVerdict::kUnreadable) {
    TraceLog("  Page not stored: the disk did not take it whole");
    FailDocument(job);
    return;
  }
  LockClient(job.peerIp, job.context->env().WallSeconds());
  doc.discarding = true;
}

void OnImgChecksum(ScanJob& job, uint8_t* body, size_t length) {
  Document& doc = job.document;
  const uint16_t sum = BodyWord(body, length, 2);
  if (sum == doc.checksum) {
    SendChecksumRes(job, 1, kErrNone);
    doc.checksumOk = true;
  } else {
    SendChecksumRes(job, 0, kErrChecksum);
    DiscardDocumentFiles(doc);
  }
}

void OnPageDelete(ScanJob& job, uint8_t* body, size_t length) {
  Document& doc = job.document;
  if (BodyWord(body, length, 2) != 0) return;
  if (doc.imageHeader.formatNameOffset == 0) {
    DiscardDocumentFiles(doc);
  } else if (doc.tempJobNo != 0) {
    // Only the finished pages' temporary files go; the count stays, so an
    // end of data that follows finds pages missing and fails the document.
    DeleteTempPages(doc.tempJobNo, doc.pageCount, doc.env());
  }
}

}  // namespace qb
