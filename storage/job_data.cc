#include "storage/job_data.h"

#include "storage/bounded_text.h"

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
  if (job.metaData != nullptr) return {job.metaData, job.metaDataLength};
  uint16_t offset = BigEndian16At(job.paraCopy, kParaCopySize, kMetaOffsetAt);
  if (offset == 0 || offset >= kParaCopySize) return {};
  return {job.paraCopy + offset, kParaCopySize - offset};
}

int32_t StoredFileCount(const ScanJob& job) { return job.multiPage != 0 ? 1 : job.pageCount; }

}  // namespace qb
