// A small picture in memory (grey or RGB, 8 bits a sample), the shrinking
// that makes a thumbnail of a large page row by row, and its PNG form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb {

struct Picture {
  int width = 0;
  int height = 0;
  int channels = 1;  // 1 grey, 3 RGB
  std::vector<uint8_t> samples;
};

// Shrinks a picture of `sourceWidth` x `sourceHeight` to fit within
// `maxWidth` x `maxHeight` (keeping its shape; never enlarging), taking
// the source a row at a time so that a page is never held whole. Each
// target pixel is the mean of the source pixels it covers.
class Shrinker {
 public:
  Shrinker(int sourceWidth, int sourceHeight, int channels, int maxWidth, int maxHeight);
  // Row `y` (0 up, each at most once) of sourceWidth pixels.
  void AddRow(int y, const uint8_t* row);
  Picture Finish();

 private:
  int sourceWidth_, sourceHeight_, channels_;
  int width_, height_;
  std::vector<uint32_t> sums_;
  std::vector<uint32_t> counts_;
  std::vector<int> columnOf_;  // target column of each source column
};

// The picture as a PNG file's bytes; empty on failure.
std::string EncodePng(const Picture& picture);

}  // namespace qb
