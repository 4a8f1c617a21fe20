// The page layout of an image header, as the coder and the TIFF writer need
// it, and the 84-byte record a raw page's temporary file starts with.
#pragma once

#include <cstdint>
#include <cstring>

namespace qb {

constexpr size_t kImageHeaderSize = 84;

// Offsets inside the image header record (84 bytes).
constexpr size_t kHeaderDataForm = 2;
constexpr size_t kHeaderFormatNameOffset = 4;
constexpr size_t kHeaderDataLength = 6;
constexpr size_t kHeaderResolutionCode = 10;
constexpr size_t kHeaderWidth = 12;
constexpr size_t kHeaderHeight = 14;
constexpr size_t kHeaderPixelPacking = 22;
constexpr size_t kHeaderPolarity = 24;
constexpr size_t kHeaderContinuation = 32;
constexpr size_t kHeaderDocumentNameOffset = 34;
// The fixed fields end here; a shorter header cannot be read.
constexpr size_t kHeaderFixedPart = 36;

// A 16-bit field of a record already in host byte order.
inline uint16_t RecordField16(const uint8_t* record, size_t offset) {
  uint16_t value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

struct PageLayout {
  uint16_t resolutionCode = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t pixelPacking = 0;  // odd: the first pixel of a byte is bit 7
  uint16_t polarity = 0;      // 0: bit value 0 is white

  // 300, 400 or 600 for their codes; every other code counts as 200 dpi.
  int32_t Dpi() const {
    switch (resolutionCode) {
      case 0x0300:
        return 300;
      case 0x0400:
        return 400;
      case 0x0600:
        return 600;
      default:
        return 200;
    }
  }
};

// The layout fields of a host-order record.
inline PageLayout PageLayoutOfRecord(const uint8_t* record) {
  PageLayout layout;
  layout.resolutionCode = RecordField16(record, kHeaderResolutionCode);
  layout.width = RecordField16(record, kHeaderWidth);
  layout.height = RecordField16(record, kHeaderHeight);
  layout.pixelPacking = RecordField16(record, kHeaderPixelPacking);
  layout.polarity = RecordField16(record, kHeaderPolarity);
  return layout;
}

}  // namespace qb
