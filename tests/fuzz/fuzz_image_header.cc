// The image header that comes before every page or file: the input is the
// message body as received. A valid header's texts end inside the bytes
// that arrived and fit their fields; the record a raw page file keeps holds
// the same fields and format name.
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

  // A raw page's temporary file keeps the record, and the TIFF writer reads
  // the layout back from it: both must agree with the parsed fields.
  const qb::PageLayout layout = qb::PageLayoutOfRecord(header.record);
  if (layout.width != header.layout.width || layout.height != header.layout.height ||
      layout.pixelPacking != header.layout.pixelPacking ||
      layout.polarity != header.layout.polarity ||
      layout.resolutionCode != header.layout.resolutionCode) {
    std::abort();
  }
  if (qb::RecordField16(header.record, qb::kHeaderDataForm) != header.dataForm) std::abort();
  const char* kept = reinterpret_cast<const char*>(header.record + header.formatNameOffset);
  if (header.formatNameOffset >= qb::kImageHeaderSize ||
      std::strcmp(kept, header.formatName) != 0) {
    std::abort();
  }
  return 0;
}
