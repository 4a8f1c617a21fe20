// The image header that comes before every page or file: the input is the
// message body as received. A valid header's texts end inside the bytes
// that arrived and fit their fields; the kept copy gives the same format
// name back.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exact_copy.h"
#include "scanproto/received_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qb::fuzz::ExactCopy body(data, size);
  qb::ImageHeader header;
  qb::ParseImageHeader(body.data(), body.size(), &header);
  if (std::memchr(header.formatName, '\0', sizeof header.formatName) == nullptr) std::abort();
  if (std::memchr(header.documentName, '\0', sizeof header.documentName) == nullptr) std::abort();
  if (!header.valid) return 0;
  if (size < qb::kHeaderFixedPart) std::abort();

  static qb::ScanJob job;
  std::memcpy(job.imgHeader, header.record, sizeof job.imgHeader);
  if (std::strcmp(qb::HeaderFormatName(job), header.formatName) != 0) std::abort();
  if (qb::HeaderField16(job, qb::kHeaderDataForm) != header.dataForm) std::abort();
  if (qb::HeaderField16(job, qb::kHeaderContinuation) != header.continuation) std::abort();
  return 0;
}
