#include "scanproto/stored_document.h"

#include "storage/bounded_text.h"
#include "storage/extension_call.h"
#include "storage/receive_log.h"

namespace qb {
uint16_t JobDestinationNumber(const ScanJob& job) { return job.para.destination; }

std::string JobNameOffsetText(const ScanJob& job, size_t limit) {
  return TextAt(job.paraCopy, kParaCopySize, job.para.nameOffset, limit);
}

ByteBlock JobMetaRecord(const ScanJob& job) {
  if (job.metaData != nullptr) return {job.metaData.get(), job.metaDataLength};
  const uint16_t offset = job.para.metaOffset;
  if (offset == 0 || offset >= kParaCopySize) return {};
  return {job.paraCopy + offset, kParaCopySize - offset};
}

StoredDocument StoredDocumentOf(const ScanJob& job) {
  // Terminated copies: the job's buffers are filled from the network and
  // nothing may read past them.
  StoredDocument document;
  document.destination = JobDestinationNumber(job);
  document.peerAddress = FixedText(job.peerIp, sizeof job.peerIp);
  document.senderName = FixedText(job.senderName, sizeof job.senderName);
  document.requestSenderName = JobNameOffsetText(job, kPathMax);
  document.outputPath = FixedText(job.outputPath, sizeof job.outputPath);
  // One multi-page file, or one file per page.
  document.fileCount = job.multiPage != 0 ? 1 : job.pageCount;
  document.metaData = JobMetaRecord(job);
  return document;
}

bool LogStoredDocument(const ScanJob& job, bool normal) {
  return LogStoredDocument(StoredDocumentOf(job), normal);
}

void RunExtensionStep(ScanJob& job, int32_t* status) {
  StoredDocument document = StoredDocumentOf(job);
  if (qnExtParaOperation(&document, status)) {
    CopyToBuffer(document.senderName, job.senderName, sizeof job.senderName);
  }
}

}  // namespace qb
