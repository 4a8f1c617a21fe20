// Read access to the job's 84-byte copy of the image header, already in host
// byte order, for the fields the coder and the TIFF writer need.
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

class ImageHeaderView {
 public:
  explicit ImageHeaderView(const uint8_t* header) : header_(header) {}

  uint16_t Field(size_t offset) const {
    uint16_t value;
    std::memcpy(&value, header_ + offset, sizeof value);
    return value;
  }
  uint16_t ResolutionCode() const { return Field(kHeaderResolutionCode); }
  uint16_t Width() const { return Field(kHeaderWidth); }
  uint16_t Height() const { return Field(kHeaderHeight); }
  uint16_t PixelPacking() const { return Field(kHeaderPixelPacking); }
  uint16_t Polarity() const { return Field(kHeaderPolarity); }
  // 300, 400 or 600 for their codes; every other code counts as 200 dpi.
  int32_t Dpi() const {
    switch (ResolutionCode()) {
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

 private:
  const uint8_t* header_;
};

}  // namespace qb
