// PDF making checked by rendering with poppler (pdftoppm) and by qpdf's
// structural check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "imaging/page_files.h"
#include "imaging/pdf/hg_tiff2pdf.h"
#include "tests/imaging/imaging_test_support.h"

namespace qb::test {
namespace {

// Reads a binary PBM (P4) as pdftoppm writes it, without comments, into
// pixels, 1 = black.
bool ReadPbm(const std::string& path, Bitmap* out) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  const std::string head(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 40));
  int width = 0, height = 0, pixelsAt = 0;
  if (std::sscanf(head.c_str(), "P4 %d %d%n", &width, &height, &pixelsAt) != 2) return false;
  const size_t pos = static_cast<size_t>(pixelsAt) + 1;  // one white-space byte before the raster
  const size_t rowBytes = (width + 7) / 8;
  if (bytes.size() < pos + rowBytes * height) return false;
  *out = BlankBitmap(width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      out->At(x, y) = (bytes[pos + y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
    }
  }
  return true;
}

// What a viewer must show: in both polarities the input bit 1 appears black
// (polarity 1 codes it as a white run and marks the TIFF BlackIsZero).
// Pixels that never arrive are white runs, shown by the polarity's rule.
Bitmap ExpectedBlack(const Bitmap& input, uint16_t polarity) {
  Bitmap decoded = ExpectedDecode(input, polarity);
  for (auto& p : decoded.pixels) p = polarity == 0 ? p : p ^ 1;
  return decoded;
}

// "" when equal, else how many pixels differ and where the first one is.
std::string CountDifferences(const Bitmap& a, const Bitmap& b) {
  size_t count = 0, first = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    if (a.pixels[i] != b.pixels[i] && count++ == 0) first = i;
  }
  if (count == 0) return "";
  return std::to_string(count) + " differ, first at x " + std::to_string(first % a.width) + " y " +
         std::to_string(first / a.width);
}

struct PdfCase {
  const char* name;
  std::vector<Bitmap> pages;
  uint16_t resolutionCode;
  int dpi;
};

class PdfRoundTripTest : public ::testing::TestWithParam<int> {};

TEST_P(PdfRoundTripTest, PopplerShowsTheInputAndQpdfFindsNoError) {
  const int mode = GetParam();
  const std::vector<PdfCase> cases = {
      {"text", {TextLikeBitmap(1728, 240, 11)}, 0x0200, 200},
      {"alternating_and_edges",
       {AlternatingBitmap(1728, 16), EveryRunBitmap(3000, 800)},
       0x0300,
       300},
      {"width_1730_two_pages",
       {TextLikeBitmap(1730, 150, 12), BlankBitmap(1730, 20, 1)},
       0x0600,
       600},
  };
  for (const PdfCase& c : cases) {
    for (uint16_t polarity : {0, 1}) {
      SCOPED_TRACE(std::string(c.name) + " polarity " + std::to_string(polarity));
      JobFixture fixture;
      PageFormat format;
      format.codingMode = mode;
      format.polarity = polarity;
      format.msbFirst = polarity == 0;  // vary the packing too
      format.resolutionCode = c.resolutionCode;
      ASSERT_TRUE(fixture.CodePages(c.pages, format));
      const std::string tiff = (fixture.folder() / "doc.tif").string();
      const std::string pdf = (fixture.folder() / "doc.pdf").string();
      ASSERT_TRUE(WriteTiff(fixture.job().tempJobNo, 0, mode, 1, tiff.c_str(),
                            static_cast<int>(c.pages.size()), qb::Env::Default()));
      ASSERT_EQ(hgTiff2Pdf(tiff.c_str(), pdf.c_str(), 0, 0, 0, qb::Env::Default()), kTiff2PdfOk);
      EXPECT_TRUE(std::filesystem::exists(tiff));  // the caller deletes it

      std::string output;
      EXPECT_EQ(RunCommand("qpdf --check '" + pdf + "'", &output), 0) << output;
      for (size_t i = 0; i < c.pages.size(); ++i) {
        const std::string prefix = (fixture.folder() / ("page" + std::to_string(i))).string();
        const std::string page = std::to_string(i + 1);
        ASSERT_EQ(RunCommand("pdftoppm -mono -r " + std::to_string(c.dpi) + " -f " + page + " -l " +
                                 page + " -singlefile '" + pdf + "' '" + prefix + "'",
                             &output),
                  0)
            << output;
        Bitmap shown;
        ASSERT_TRUE(ReadPbm(prefix + ".pbm", &shown));
        const Bitmap expected = ExpectedBlack(c.pages[i], polarity);
        ASSERT_EQ(shown.width, expected.width) << "page " << i;
        ASSERT_EQ(shown.height, expected.height) << "page " << i;
        EXPECT_EQ(CountDifferences(shown, expected), "") << "page " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, PdfRoundTripTest, ::testing::Values(1, 3),
                         [](const auto& info) { return info.param == 1 ? "MH" : "MMR"; });

TEST(Tiff2PdfTest, FailuresLeaveNoPdf) {
  JobFixture fixture;
  const std::string pdf = (fixture.folder() / "out.pdf").string();
  const std::string missing = (fixture.folder() / "missing.tif").string();
  EXPECT_EQ(hgTiff2Pdf(missing.c_str(), pdf.c_str(), 0, 0, 0, qb::Env::Default()),
            kTiff2PdfBadTiff);

  // A TIFF whose strip runs past the end of the file.
  PageFormat format;
  ASSERT_TRUE(fixture.CodePages({TextLikeBitmap(1728, 100, 13)}, format));
  const std::string tiff = (fixture.folder() / "cut.tif").string();
  ASSERT_TRUE(WriteTiff(fixture.job().tempJobNo, 0, 3, 1, tiff.c_str(), 1, qb::Env::Default()));
  std::vector<uint8_t> bytes = ReadFileBytes(tiff);
  bytes.resize(bytes.size() - 1);
  WriteFileBytes(tiff, bytes);
  EXPECT_EQ(hgTiff2Pdf(tiff.c_str(), pdf.c_str(), 0, 0, 0, qb::Env::Default()), kTiff2PdfBadTiff);

  // Every truncation of a valid TIFF's directory area fails cleanly.
  for (size_t cut = 0; cut < 240; ++cut) {
    WriteFileBytes(tiff, std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
    EXPECT_EQ(hgTiff2Pdf(tiff.c_str(), pdf.c_str(), 0, 0, 0, qb::Env::Default()), kTiff2PdfBadTiff)
        << cut;
  }

  // An output folder that does not exist.
  bytes.push_back(0);
  WriteFileBytes(tiff, bytes);
  const std::string nowhere = (fixture.folder() / "no" / "out.pdf").string();
  EXPECT_EQ(hgTiff2Pdf(tiff.c_str(), nowhere.c_str(), 0, 0, 0, qb::Env::Default()),
            kTiff2PdfWriteFailed);
  EXPECT_FALSE(std::filesystem::exists(pdf));
  EXPECT_FALSE(std::filesystem::exists(pdf + ".part"));
  EXPECT_EQ(hgTiff2Pdf(tiff.c_str(), pdf.c_str(), 0, 0, 0, qb::Env::Default()), kTiff2PdfOk);
}

}  // namespace
}  // namespace qb::test
