#include "scanproto/stored_document.h"

#include "storage/bounded_text.h"
#include "storage/extension_call.h"
#include "storage/receive_log.h"

namespace qb {
namespace {

constexpr size_t kDestinationAt = 2;
constexpr size_t kNameOffsetAt = 4;
constexpr size_t kMetaOffsetAt = 6;

}  // namespace

uint16_t JobDestinationNumber(const ScanJob& job) {
  return BigEndian16At(job.paraCopy, kParaCopySize, kDestinationAt);
}

std::string JobNameOffsetText(const ScanJob& job, size_t limit) {
  uint16_t offset = BigEndian16At(job.paraCopy, kParaCopySize, kNameOffsetAt);
  return TextAt(job.paraCopy, kParaCopySize, offset, limit);
}

ByteBlock JobMetaRecord(const ScanJob& job) {
  if (job.metaData != nullptr) return {job.metaData.get(), job.metaDataLength};
  uint16_t offset = BigEndian16At(job.paraCopy, kParaCopySize, kMetaOffsetAt);
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
