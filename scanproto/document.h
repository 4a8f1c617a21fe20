// The document a printer sends over one connection: what its parameter
// request asked for (destination, names, meta data), its pages as they
// arrive (image header, coder, page file, line buffer), the names of its
// files and the files themselves until its end of data puts them in place.
//
// It holds nothing of the connection: the socket, the replies, the peer's
// address and what the capability exchange settled stay in ScanJob, which
// holds one Document for as long as the connection lasts. The handlers
// that need to reply take the ScanJob; the steps that work on the
// document alone take the Document.
//
// A Document is made once, at accept, with its buffers in it, so nothing
// is allocated per packet. A new parameter request replaces the request's
// part (see negotiation.cc); the rest carries on from one document to the
// next on the same connection exactly as each handler leaves it, which is
// what printers have always seen from this receiver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/fax_coder.h"
#include "imaging/page_file.h"
#include "scanproto/received_header.h"
#include "storage/document_files.h"
#include "storage/name_reservations.h"

namespace qb {

constexpr size_t kLineBufSize = 10240;
constexpr size_t kPathMax = 260;
constexpr size_t kParaCopySize = 540;

// The fixed words of the parameter request kept for the document; the
// texts and the meta-data record they point at stay in `paraCopy`, at the
// offsets given here.
struct KeptParaRequest {
  uint16_t code = 0;
  uint16_t destination = 0;
  uint16_t nameOffset = 0;
  uint16_t metaOffset = 0;  // 0: no meta data
};

struct Document {
  // Every file of the document goes through `env`.
  explicit Document(Env& env) : files(env, NameReservations::NewOwner()) { Clear(); }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // --- the parameter request and what it decided ---
  KeptParaRequest para;
  uint8_t paraCopy[kParaCopySize];      // the request as the printer sent it, its words included
  std::unique_ptr<uint8_t[]> metaData;  // a meta-data block too long for paraCopy
  uint32_t metaDataLength = 0;
  char folderPath[kPathMax];  // the destination folder, with the attribute record's sub-folder
  char fileName[kPathMax];    // the job's own name; "" names files after the image header
  int32_t jobNo = 0;          // drawn from the job counter; raw-road names carry it
  char senderName[33];        // for the receive log; the extension step may set it

  // --- reception ---
  bool fileOk = true;
  bool checksumOk = false;
  uint16_t checksum = 0;    // byte sum of the file road's data
  bool discarding = false;  // the rest of the document is dropped
  int32_t pageCount = 0;    // pages (or files) ended
  bool multiPage = true;   // false: one file per page
  uint32_t rcvTotalImgBytes = 0;
  uint32_t hddFreeBytes = 0;  // free bytes of the destination at the last header
  uint32_t tempJobNo = 0;     // number of the raw road's temporary page files; 0 none yet
  // The last image header that opened a page or file, parsed.
  ImageHeader imageHeader;
  FaxCoder coder;
  // The page being received: a raw page's temporary file or a staging file.
  PageFile pageFile;
  uint32_t lineFill = 0;          // bytes of the next line already in lineBuf
  uint8_t lineBuf[kLineBufSize];  // raw lines gathered for the coder

  // --- names of its files ---
  char curFilePath[kPathMax];  // the file the current page goes to
  char outputPath[kPathMax];   // the stored document, as the log names it
  char saveFileTitle[kPathMax];
  char baseName[kPathMax];  // the reserved name that page numbers are added to
  uint32_t numberWidth = 0;
  // The document's files in the destination until its end of data puts
  // them in place; also holds the names reserved for it.
  DocumentFiles files;

  // Every field at its initial value: the request forgotten, the page file
  // closed (not deleted), the coder and header as new. The line buffer is
  // left as it is (every line is written before it is read), and so are
  // `files`: what the document staged is dropped with DiscardDocumentFiles,
  // and its owner id stays with it.
  Env& env() const { return files.env(); }

  void Clear() {
    para = KeptParaRequest{};
    for (uint8_t& b : paraCopy) b = 0;
    metaData.reset();
    metaDataLength = 0;
    folderPath[0] = fileName[0] = '\0';
    jobNo = 0;
    senderName[0] = '\0';
    fileOk = true;
    checksumOk = false;
    checksum = 0;
    discarding = false;
    pageCount = 0;
    multiPage = true;
    rcvTotalImgBytes = hddFreeBytes = tempJobNo = 0;
    imageHeader = ImageHeader();
    coder = FaxCoder();
    pageFile.Close();
    lineFill = 0;
    curFilePath[0] = outputPath[0] = saveFileTitle[0] = baseName[0] = '\0';
    numberWidth = 0;
  }
};

}  // namespace qb
