#include "scanproto/stored_document.h"

#include "storage/bounded_text.h"

namespace qb {
uint16_t DocumentDestination(const Document& doc) { return doc.para.destination; }

std::string DocumentNameOffsetText(const Document& doc, size_t limit) {
  return TextAt(doc.paraCopy, kParaCopySize, doc.para.nameOffset, limit);
}

ByteBlock DocumentMetaRecord(const Document& doc) {
  if (doc.metaData != nullptr) return {doc.metaData.get(), doc.metaDataLength};
  const uint16_t offset = doc.para.metaOffset;
  if (offset == 0 || offset >= kParaCopySize) return {};
  return {doc.paraCopy + offset, kParaCopySize - offset};
}

StoredDocument StoredDocumentOf(const ScanJob& job) {
  // Terminated copies: the job's buffers are filled from the network and
  // nothing may read past them.
  const Document& doc = job.document;
  StoredDocument document;
  document.destination = DocumentDestination(doc);
  document.peerAddress = FixedText(job.peerIp, sizeof job.peerIp);
  document.senderName = FixedText(doc.senderName, sizeof doc.senderName);
  document.requestSenderName = DocumentNameOffsetText(doc, kPathMax);
  document.outputPath = FixedText(doc.outputPath, sizeof doc.outputPath);
  // One multi-page file, or one file per page.
  document.fileCount = doc.multiPage ? 1 : doc.pageCount;
  document.metaData = DocumentMetaRecord(doc);
  return document;
}

}  // namespace qb
