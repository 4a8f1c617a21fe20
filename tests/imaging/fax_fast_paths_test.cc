// The coder's fast paths (a line equal to the one before, changes found a
// word at a time, V0 codes in runs, runs from one table) against the plain
// way, byte for byte, and the pages where they matter most decoded by
// libtiff.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "imaging/fax_coder.h"
#include "tests/imaging/imaging_test_support.h"

namespace qb::test {
namespace {

// Office-like: white margins, text rows whose lines repeat, table rules,
// a solid block, lines that differ from the one before by one pixel.
Bitmap OfficeLikeBitmap(int width, int height) {
  Bitmap page = BlankBitmap(width, height, 0);
  const Bitmap text = TextLikeBitmap(width, height, 11);
  for (int y = 10; y < height - 10; ++y) {
    const int source = y / 3 * 3;  // every text line three times
    for (int x = 0; x < width; ++x) page.At(x, y) = text.At(x, source);
    if (y % 17 == 0) {
      for (int x = 5; x < width - 5; ++x) page.At(x, y) = 1;  // a rule
    }
    for (int x = 2; x < width; x += width / 7) page.At(x, y) = 1;  // columns
    if (y % 5 == 0) page.At(y % width, y) ^= 1;
  }
  for (int y = height / 2; y < height / 2 + 6; ++y) {
    for (int x = width / 3; x < width / 2; ++x) page.At(x, y) = 1;
  }
  return page;
}

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

// The fast paths' output through libtiff's decoder, MH, MR and MMR.
TEST(FaxFastPathsTest, LibtiffDecodesOfficeLikePages) {
  const std::vector<Bitmap> pages = {OfficeLikeBitmap(1728, 300), OfficeLikeBitmap(2480, 120)};
  for (int mode : {1, 2, 3}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    JobFixture fixture;
    PageFormat format;
    format.codingMode = mode;
    ASSERT_TRUE(fixture.CodePages(pages, format));
    const std::string tiff = (fixture.folder() / "out.tif").string();
    ASSERT_TRUE(
        WriteTiff(fixture.job().tempJobNo, 0, mode, 1, tiff.c_str(), 2, qb::Env::Default()));
    std::vector<Bitmap> decoded;
    std::string error;
    ASSERT_TRUE(DecodeTiff(tiff, &decoded, &error)) << error;
    ASSERT_EQ(decoded.size(), 2u);
    for (size_t i = 0; i < pages.size(); ++i) {
      EXPECT_TRUE(decoded[i].pixels == ExpectedDecode(pages[i], 0).pixels) << "page " << i;
    }
  }
}

}  // namespace
}  // namespace qb::test
