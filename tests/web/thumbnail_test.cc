// Thumbnails of the kinds of file a printer sends, checked by decoding the
// PNG back: its size keeps the page's shape, and the dark top half of the
// page is dark in the thumbnail.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/unit/test_root.h"
#include "imaging/pdf/hg_tiff2pdf.h"
#include "platform/env.h"
#include "web/picture.h"
#include "web/thumbnail.h"

namespace qb {
namespace {

// A bilevel page whose top half is black, as a fax TIFF (G4) or another
// layout of TIFF (8-bit grey, uncompressed).
void WriteHalfBlackTiff(const std::string& path, uint32_t width, uint32_t height, bool fax) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, fax ? 1 : 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, fax ? COMPRESSION_CCITTFAX4 : COMPRESSION_NONE);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, fax ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
  const size_t rowBytes = fax ? (width + 7) / 8 : width;
  std::vector<uint8_t> page(rowBytes * height, fax ? 0x00 : 0xFF);
  for (size_t y = 0; y < height / 2; ++y) {
    std::fill_n(&page[y * rowBytes], rowBytes, fax ? 0xFF : 0x00);
  }
  TIFFWriteEncodedStrip(tiff, 0, page.data(), static_cast<tmsize_t>(page.size()));
  TIFFClose(tiff);
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> grey;
  int At(int x, int y) const { return grey[static_cast<size_t>(y) * width + x]; }
};

Decoded DecodePng(const std::string& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Decoded decoded;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return decoded;
  image.format = PNG_FORMAT_GRAY;
  decoded.grey.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, decoded.grey.data(), 0, nullptr)) return decoded;
  decoded.width = static_cast<int>(image.width);
  decoded.height = static_cast<int>(image.height);
  return decoded;
}

TEST(ThumbnailTest, FaxOtherTiffAndPdfPagesShrinkToTheirShape) {
  test::TestRoot root;
  Env& env = Env::Default();
  const std::string fax = root.path() + "/fax.tif", grey = root.path() + "/grey.tif";
  WriteHalfBlackTiff(fax, 4960, 7016, true);  // A4 at 600 dpi
  WriteHalfBlackTiff(grey, 1000, 400, false);
  const std::string pdf = root.path() + "/fax.pdf";
  ASSERT_EQ(hgTiff2Pdf(fax.c_str(), pdf.c_str(), 0, 0, 0, env), 0);
  struct Case {
    std::string path;
    int width, height;
  };
  for (const Case& c : {Case{fax, 155, 220}, Case{grey, 160, 64}, Case{pdf, 155, 220}}) {
    SCOPED_TRACE(c.path);
    const ThumbnailResult result = MakeThumbnail(env, c.path);
    ASSERT_TRUE(result.why.empty()) << result.why;
    EXPECT_EQ(result.pages, 1);
    const Decoded thumb = DecodePng(result.png);
    EXPECT_NEAR(thumb.width, c.width, 1);
    EXPECT_NEAR(thumb.height, c.height, 1);
    if (thumb.width == 0) continue;
    EXPECT_LT(thumb.At(thumb.width / 2, thumb.height / 4), 40);
    EXPECT_GT(thumb.At(thumb.width / 2, thumb.height * 3 / 4), 215);
  }
}

TEST(ThumbnailTest, BrokenAndUnknownFilesGiveAReasonNotACrash) {
  test::TestRoot root;
  Env& env = Env::Default();
  const std::string fax = root.path() + "/fax.tif";
  WriteHalfBlackTiff(fax, 1728, 2339, true);
  std::string bytes = test::ReadWholeFile(fax);
  const std::string cut = root.path() + "/cut.tif";
  std::ofstream(cut) << bytes.substr(0, bytes.size() / 2);
  std::ofstream(root.path() + "/text.txt") << "hello";
  std::ofstream(root.path() + "/bad.jpg") << std::string("\xFF\xD8\xFF\xE0 nothing", 12);
  std::ofstream(root.path() + "/bad.pdf") << "%PDF-1.4 nothing";
  for (const char* name : {"/cut.tif", "/text.txt", "/bad.jpg", "/bad.pdf", "/missing.tif"}) {
    SCOPED_TRACE(name);
    const ThumbnailResult result = MakeThumbnail(env, root.path() + name);
    if (result.png.empty()) {
      EXPECT_FALSE(result.why.empty());
    }
  }
  EXPECT_TRUE(MakeThumbnail(env, root.path() + "/text.txt").png.empty());
}

TEST(ShrinkerTest, NeverEnlargesAndKeepsTheShape) {
  struct Case {
    int width, height, maxWidth, maxHeight, wantWidth, wantHeight;
  };
  for (const Case& c : {Case{10, 10, 160, 220, 10, 10}, Case{1600, 100, 160, 220, 160, 10},
                        Case{100, 4400, 160, 220, 5, 220}, Case{1, 100000, 160, 220, 1, 220}}) {
    Shrinker shrinker(c.width, c.height, 1, c.maxWidth, c.maxHeight);
    std::vector<uint8_t> row(static_cast<size_t>(c.width), 7);
    for (int y = 0; y < c.height; ++y) shrinker.AddRow(y, row.data());
    const Picture picture = shrinker.Finish();
    EXPECT_EQ(picture.width, c.wantWidth);
    EXPECT_EQ(picture.height, c.wantHeight);
    EXPECT_TRUE(std::all_of(picture.samples.begin(), picture.samples.end(),
                            [](uint8_t v) { return v == 7; }));
  }
}

}  // namespace
}  // namespace qb
