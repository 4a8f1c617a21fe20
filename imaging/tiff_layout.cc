#include "imaging/tiff_layout.h"

namespace qb {
namespace {

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint16_t kRational = 5;

class LittleEndianWriter {
 public:
  explicit LittleEndianWriter(uint8_t* out) : out_(out) {}
  void U16(uint32_t value) {
    out_[pos_++] = static_cast<uint8_t>(value);
    out_[pos_++] = static_cast<uint8_t>(value >> 8);
  }
  void U32(uint32_t value) {
    U16(value & 0xFFFF);
    U16(value >> 16);
  }
  // Values shorter than 4 bytes sit left-justified in the value field.
  void ShortEntry(uint16_t tag, uint16_t value) {
    U16(tag);
    U16(kShort);
    U32(1);
    U16(value);
    U16(0);
  }
  void Entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    U16(tag);
    U16(type);
    U32(count);
    U32(value);
  }

 private:
  uint8_t* out_;
  size_t pos_ = 0;
};

}  // namespace

uint32_t BuildTiffDirectory(const TiffPageInfo& page, uint32_t directoryOffset, bool more,
                            uint8_t block[kTiffDirectoryBlockSize]) {
  const uint32_t valueArea = directoryOffset + static_cast<uint32_t>(kTiffDirectorySize);
  const uint32_t stripOffset = valueArea + static_cast<uint32_t>(kTiffValueAreaSize);
  const uint32_t nextOffset = more ? stripOffset + page.dataSize : 0;
  LittleEndianWriter w(block);
  w.U16(kTiffEntryCount);
  w.Entry(0x00FE, kLong, 1, 2);  // NewSubfileType: one page of many
  w.Entry(0x0100, kLong, 1, page.width);
  w.Entry(0x0101, kLong, 1, page.height);
  w.ShortEntry(0x0102, 1);  // BitsPerSample
  w.ShortEntry(0x0103, page.compression);
  w.ShortEntry(0x0106, page.photometric);
  w.ShortEntry(0x010A, page.fillOrder);
  w.Entry(0x0111, kLong, 1, stripOffset);
  w.ShortEntry(0x0112, 1);                 // Orientation: top left
  w.ShortEntry(0x0115, 1);                 // SamplesPerPixel
  w.Entry(0x0116, kLong, 1, page.height);  // RowsPerStrip: one strip
  w.Entry(0x0117, kLong, 1, page.dataSize);
  w.Entry(0x011A, kRational, 1, valueArea);
  w.Entry(0x011B, kRational, 1, valueArea + 8);
  w.Entry(page.t4t6Tag, kLong, 1, page.t4t6Options);
  w.ShortEntry(0x0128, 2);  // ResolutionUnit: inch
  w.U16(0x0129);            // PageNumber: this page, total unknown (0)
  w.U16(kShort);
  w.U32(2);
  w.U16(page.pageNumber);
  w.U16(0);
  w.U32(nextOffset);
  w.U32(page.dpi);
  w.U32(1);
  w.U32(page.dpi);
  w.U32(1);
  return nextOffset;
}

}  // namespace qb
