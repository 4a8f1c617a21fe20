// Reads the page list of a bilevel fax-coded TIFF: for each directory the
// size, coding, resolution and the location of its single strip. Every read
// is checked against the file size, so a damaged file fails cleanly.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/env.h"

namespace qb {

struct FaxTiffPage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t compression = 0;  // 2, 3 or 4
  uint32_t t4Options = 0;    // bit 0: two-dimensional lines present
  uint16_t fillOrder = 1;    // 2: first pixel in the least significant bit
  uint16_t photometric = 0;  // 0: 0 is white; 1: 0 is black
  uint64_t stripOffset = 0;
  uint64_t stripBytes = 0;
  double xDpi = 200;
  double yDpi = 200;
};

// Most directories a file may chain; a longer chain is taken as damage.
constexpr size_t kMaxFaxTiffPages = 10000;

// Fills `pages` with every page of the open file. Returns false when the
// file is not a TIFF, a directory points outside it, the chain loops, or a
// page is not a one-strip, one-bit CCITT page.
bool ReadFaxTiffPages(const ReadableFile& file, std::vector<FaxTiffPage>* pages);

}  // namespace qb
