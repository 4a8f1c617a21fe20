// The fixed little-endian TIFF directory block the TIFF writer emits per
// page: 17 entries, the next-directory offset, then the value area with the
// X and Y resolutions. The page's strip follows the block directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb {

constexpr size_t kTiffEntryCount = 17;
constexpr size_t kTiffDirectorySize = 2 + kTiffEntryCount * 12 + 4;  // 210
constexpr size_t kTiffValueAreaSize = 16;
constexpr size_t kTiffDirectoryBlockSize = kTiffDirectorySize + kTiffValueAreaSize;

struct TiffPageInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t dpi = 200;
  uint16_t compression = 4;  // 3 T.4, 4 T.6
  uint16_t photometric = 0;
  uint16_t fillOrder = 2;
  uint16_t t4t6Tag = 0x0125;  // T4Options or T6Options
  uint32_t t4t6Options = 0;
  uint32_t dataSize = 0;
  uint16_t pageNumber = 0;
};

// Fills `block` with the directory of a page whose directory starts at
// `directoryOffset`. Returns the offset of the next directory (strip offset
// + data size) when `more` pages follow, else 0; the same value is written
// as the block's next-directory offset.
uint32_t BuildTiffDirectory(const TiffPageInfo& page, uint32_t directoryOffset, bool more,
                            uint8_t block[kTiffDirectoryBlockSize]);

}  // namespace qb
