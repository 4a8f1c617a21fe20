// The coder's fast paths (a line equal to the one before, changes found a
// word at a time, V0 codes in runs, runs from one table) against the plain
// way, byte for byte. The pages where they matter most are decoded by
// libtiff in the round-trip test.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "imaging/fax_coder.h"
#include "tests/imaging/imaging_test_support.h"

namespace qb::test {
namespace {

std::vector<uint8_t> Code(const Bitmap& page, const PageFormat& format, bool plain) {
  PageLayout layout;
  layout.resolutionCode = format.resolutionCode;
  layout.width = static_cast<uint16_t>(page.width);
  layout.height = static_cast<uint16_t>(page.height);
  layout.pixelPacking = format.msbFirst ? 1 : 0;
  layout.polarity = format.polarity;
  FaxCoder coder;
  EXPECT_TRUE(coder.SetUp(layout));
  coder.SetCodingMode(format.codingMode);
  coder.SetPlainCoding(plain);
  std::string coded;
  PageFile file = PageFile::InMemory(&coded);
  coder.WriteInto(&file);
  for (int y = 0; y < page.height; ++y) {
    std::vector<uint8_t> line = PackLine(page, y, format.msbFirst);
    EXPECT_EQ(coder.CodeLine(line.data()), 1);
  }
  EXPECT_EQ(coder.FinishPage(), 0);
  EXPECT_EQ(coded.size(), coder.BytesWritten());
  return std::vector<uint8_t>(coded.begin(), coded.end());
}

TEST(FaxFastPathsTest, CodeTheSameBytesAsThePlainWay) {
  const std::vector<Bitmap> pages = {
      OfficeLikeBitmap(1728, 200), OfficeLikeBitmap(4960, 60), OfficeLikeBitmap(1730, 50),
      OfficeLikeBitmap(61, 40),    TextLikeBitmap(2480, 80, 5), RandomBitmap(1736, 30, 9),
      AlternatingBitmap(1728, 8),  BlankBitmap(1728, 9, 1),     EveryRunBitmap(5000, 2700)};
  for (int mode : {1, 2, 3}) {
    for (const Bitmap& page : pages) {
      for (bool msbFirst : {true, false}) {
        for (uint16_t polarity : {0, 1}) {
          SCOPED_TRACE("mode " + std::to_string(mode) + " width " + std::to_string(page.width) +
                       (msbFirst ? " msb" : " lsb") + " polarity " + std::to_string(polarity));
          PageFormat format;
          format.codingMode = mode;
          format.msbFirst = msbFirst;
          format.polarity = polarity;
          EXPECT_EQ(Code(page, format, false), Code(page, format, true));
        }
      }
    }
  }
}

}  // namespace
}  // namespace qb::test
