// Bitmaps, a coding driver that follows the reception code's call order,
// and libtiff-based decoding for the imaging tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/fax_coder.h"
#include "imaging/image_header.h"
#include "imaging/page_file.h"
#include "imaging/page_files.h"
#include "tests/unit/temp_folder.h"

namespace qb::test {

// A page as pixels: 1 = the input bit value 1, row-major.
struct Bitmap {
  int width = 0;  // header width (pixels per line)
  int height = 0;
  std::vector<uint8_t> pixels;  // width * height
  uint8_t& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
  uint8_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Bitmap BlankBitmap(int width, int height, uint8_t value);
Bitmap TextLikeBitmap(int width, int height, uint32_t seed);
// Text rows whose lines repeat, table rules, a solid block: the coder's
// fast paths at work.
Bitmap OfficeLikeBitmap(int width, int height);
Bitmap AlternatingBitmap(int width, int height);
// Rows of runs of every length from 0 to maxRun in both colours.
Bitmap EveryRunBitmap(int width, int maxRun);
Bitmap RandomBitmap(int width, int height, uint32_t seed);

// How the printer packs the page.
struct PageFormat {
  int codingMode = 3;     // 1 MH, 2 MR, 3 MMR
  bool msbFirst = true;   // pixel packing bit 0
  uint16_t polarity = 0;  // 0: bit 0 is white
  uint16_t resolutionCode = 0x0200;
};

// Bytes per line as the printer sends them (width / 8, the first pixel in
// bit 7 or bit 0).
std::vector<uint8_t> PackLine(const Bitmap& page, int y, bool msbFirst);

// What image reception keeps per job for the coder and the page files.
struct PageJob {
  uint8_t headerRecord[kImageHeaderSize] = {};
  uint8_t* lineBuf = nullptr;
  FaxCoder coder;
  PageFile pageFile;
  char curFilePath[260] = "";
  uint32_t tempJobNo = 0;
  int pageCount = 0;
};

// SetUp of the job's coder with the layout of its header record, as image
// reception calls it.
bool SetupCoder(PageJob& job);

// A job with a line buffer and TMP pointing at a fresh folder.
class JobFixture {
 public:
  JobFixture();
  PageJob& job() { return job_; }
  const std::filesystem::path& folder() const { return folder_; }

  // Codes the pages through temporary page files the way image reception
  // does; returns false when the coder reports an error.
  bool CodePages(const std::vector<Bitmap>& pages, const PageFormat& format);

 private:
  PageJob job_;
  TempPageCounter tempPages_;
  std::vector<uint8_t> lineBuf_;
  TempFolder scratch_;  // under /tmp whatever TMP says
  std::filesystem::path folder_;
};

// Decodes every page of a TIFF with libtiff into pixels (1 = decoded bit 1).
// Returns false when libtiff reports an error.
bool DecodeTiff(const std::string& path, std::vector<Bitmap>* pages, std::string* error);

// The decoded bit libtiff yields for an input pixel: white runs come back as
// 0, and polarity 1 makes the input bit 1 white. Pixels past width / 8 * 8
// are coded white.
Bitmap ExpectedDecode(const Bitmap& input, uint16_t polarity);

// Runs a shell command; returns its exit status and captures stdout+stderr.
int RunCommand(const std::string& command, std::string* output);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace qb::test
