#include "scanproto/received_header.h"

#include <cstring>

#include "imaging/image_header.h"
#include "scanproto/dispatcher.h"

namespace qb {
namespace {

constexpr size_t kU16Fields[] = {0, 2, 4, 10, 12, 14, 16, 18, 20, 22, 24, 32, 34};

// Length of the NUL-terminated text at `offset` of `bytes[0, size)`, or
// `limit` + 1 when it has no NUL within `limit` characters or before `size`.
size_t BoundedTextLength(const uint8_t* bytes, size_t size, size_t offset, size_t limit) {
  if (offset >= size) return limit + 1;
  const void* nul = std::memchr(bytes + offset, '\0', size - offset);
  if (nul == nullptr) return limit + 1;
  size_t length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - (bytes + offset));
  return length > limit ? limit + 1 : length;
}

}  // namespace

void ParseImageHeader(const uint8_t* body, size_t length, ImageHeader* header) {
  std::memset(header->record, 0, sizeof header->record);
  std::memcpy(header->record, body, length < kImageHeaderSize ? length : kImageHeaderSize);
  header->formatName[0] = '\0';
  header->documentName[0] = '\0';
  header->valid = false;

  uint8_t* record = header->record;
  for (size_t offset : kU16Fields) {
    uint16_t value = ReadBe16(record + offset);
    std::memcpy(record + offset, &value, sizeof value);
  }
  uint32_t dataLength = ReadBe32(record + kHeaderDataLength);
  std::memcpy(record + kHeaderDataLength, &dataLength, sizeof dataLength);

  header->dataForm = RecordField16(record, kHeaderDataForm);
  header->formatNameOffset = RecordField16(record, kHeaderFormatNameOffset);
  header->dataLength = dataLength;
  header->layout = PageLayoutOfRecord(record);
  header->continuation = RecordField16(record, kHeaderContinuation);
  header->documentNameOffset = RecordField16(record, kHeaderDocumentNameOffset);
  if (length < kHeaderFixedPart) return;

  // The format name has to end inside the first 84 bytes: a raw page's
  // temporary file keeps only those.
  const size_t formatOffset = header->formatNameOffset;
  const size_t copied = length < kImageHeaderSize ? length : kImageHeaderSize;
  const size_t formatLength = BoundedTextLength(record, copied, formatOffset, kMaxFormatName);
  const size_t nameOffset = header->documentNameOffset;
  // The document name may run past byte 84 of a longer message, but its
  // first byte must lie within the record.
  const size_t nameLength = nameOffset <= kImageHeaderSize
                                ? BoundedTextLength(body, length, nameOffset, kMaxDocumentName - 1)
                                : kMaxDocumentName;
  if (formatLength > kMaxFormatName || nameLength > kMaxDocumentName - 1) return;

  std::memcpy(header->formatName, record + formatOffset, formatLength);
  header->formatName[formatLength] = '\0';
  std::memcpy(header->documentName, body + nameOffset, nameLength);
  header->documentName[nameLength] = '\0';
  header->valid = true;
}

}  // namespace qb
