// One-bit pages for the raw road: read from PBM/PGM files or drawn as a
// built-in test page. Rows are packed with the first pixel in the most
// significant bit and bit value 1 for black, as in PBM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb::sendscan {

struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bits;  // height rows of Stride() bytes

  size_t Stride() const { return (static_cast<size_t>(width) + 7) / 8; }
  const uint8_t* Row(int y) const { return bits.data() + static_cast<size_t>(y) * Stride(); }
  uint8_t* Row(int y) { return bits.data() + static_cast<size_t>(y) * Stride(); }
  bool Black(int x, int y) const { return (Row(y)[x / 8] >> (7 - x % 8)) & 1; }
  void SetBlack(int x, int y) { Row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8)); }
};

// Reads a PBM (P1, P4) or PGM (P2, P5; darker than half the maximum is
// black) file. False with `error` set on any fault.
bool ReadNetpbm(const std::string& path, Bitmap* bitmap, std::string* error);
// Writes the bitmap as a binary PBM (P4) file.
bool WritePbm(const std::string& path, const Bitmap& bitmap);

// A page with a border, a diagonal, bands of runs of many lengths and, at
// the top, page + 1 bars, so that pages differ and coding has work to do.
Bitmap TestPage(int width, int height, int page);

}  // namespace qb::sendscan
