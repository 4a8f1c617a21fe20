// The coder and the TIFF writer checked against libtiff's decoder: whatever
// we code must come back pixel for pixel.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/fax_coder.h"
#include "imaging/page_files.h"
#include "platform/fault_env.h"
#include "tests/imaging/imaging_test_support.h"

namespace qb::test {
namespace {

struct RoundTripCase {
  const char* name;
  std::vector<Bitmap> pages;
  // A line that starts black and then changes at every pixel needs
  // width + 1 runs; libtiff's one-dimensional decoder holds only width, so
  // such MH pages are checked through poppler in the PDF tests instead.
  bool beyondLibtiffMh = false;
};

std::vector<RoundTripCase> Cases() {
  Bitmap longRun = BlankBitmap(4000, 6, 0);
  for (int x = 500; x < 3500; ++x) longRun.At(x, 2) = 1;                // 3000 black
  for (int x = 0; x < 4000; ++x) longRun.At(x, 4) = x >= 3000 ? 1 : 0;  // 3000 white
  Bitmap edgeRuns = BlankBitmap(1728, 4, 0);
  edgeRuns.At(0, 0) = 1;     // line starts black
  edgeRuns.At(1727, 1) = 1;  // line ends black
  for (int x = 0; x < 1728; x += 2) edgeRuns.At(x, 2) = 1;
  return {
      {"text", {TextLikeBitmap(1728, 300, 1)}},
      {"white", {BlankBitmap(1728, 20, 0)}},
      {"black", {BlankBitmap(1728, 20, 1)}},
      {"alternating", {AlternatingBitmap(1728, 12)}, true},
      {"long_runs", {longRun}},
      {"edges", {edgeRuns}, true},
      {"every_run", {EveryRunBitmap(5000, 2700)}},
      {"random", {RandomBitmap(1730, 40, 7)}},
      {"width_1730", {TextLikeBitmap(1730, 200, 2)}},
      {"narrow", {TextLikeBitmap(64, 30, 3), BlankBitmap(13, 5, 1)}},
      {"office", {OfficeLikeBitmap(1728, 300), OfficeLikeBitmap(2480, 120)}},
      {"three_pages",
       {TextLikeBitmap(1728, 200, 4), BlankBitmap(1728, 10, 0), AlternatingBitmap(2480, 30)}},
  };
}

class FaxRoundTripTest : public ::testing::TestWithParam<int> {};

// Every bitmap in both bit orders and both polarities, in MH, MR and MMR,
// assembled into one multi-page TIFF and decoded by libtiff.
TEST_P(FaxRoundTripTest, LibtiffDecodesWhatWasCoded) {
  const int mode = GetParam();
  for (const RoundTripCase& c : Cases()) {
    if (mode == 1 && c.beyondLibtiffMh) continue;
    for (bool msbFirst : {true, false}) {
      for (uint16_t polarity : {0, 1}) {
        SCOPED_TRACE(std::string(c.name) + (msbFirst ? " msb" : " lsb") + " polarity " +
                     std::to_string(polarity));
        JobFixture fixture;
        PageFormat format;
        format.codingMode = mode;
        format.msbFirst = msbFirst;
        format.polarity = polarity;
        ASSERT_TRUE(fixture.CodePages(c.pages, format));
        const std::string tiff = (fixture.folder() / "out.tif").string();
        ASSERT_TRUE(WriteTiff(fixture.job().tempJobNo, 0, mode, 1, tiff.c_str(),
                              static_cast<int>(c.pages.size()), qb::Env::Default()));
        std::vector<Bitmap> decoded;
        std::string error;
        ASSERT_TRUE(DecodeTiff(tiff, &decoded, &error)) << error;
        ASSERT_EQ(decoded.size(), c.pages.size());
        for (size_t i = 0; i < c.pages.size(); ++i) {
          const Bitmap expected = ExpectedDecode(c.pages[i], polarity);
          ASSERT_EQ(decoded[i].width, expected.width);
          ASSERT_EQ(decoded[i].height, expected.height);
          EXPECT_TRUE(decoded[i].pixels == expected.pixels) << "page " << i;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, FaxRoundTripTest, ::testing::Values(1, 2, 3), [](const auto& info) {
  return std::string(info.param == 1 ? "MH" : info.param == 2 ? "MR" : "MMR");
});

// libtiff's raw-strip reader as a second opinion that pages were written
// one per file when assembled one at a time.
TEST(FaxCoderTest, PagesAssembledSeparatelyEachDecode) {
  JobFixture fixture;
  const std::vector<Bitmap> pages = {TextLikeBitmap(1728, 100, 9), TextLikeBitmap(1728, 120, 10)};
  PageFormat format;
  ASSERT_TRUE(fixture.CodePages(pages, format));
  for (int i = 0; i < 2; ++i) {
    std::string name = "p";
    name += std::to_string(i) + ".tif";
    const std::string tiff = (fixture.folder() / name).string();
    ASSERT_TRUE(WriteTiff(fixture.job().tempJobNo, i, 3, 1, tiff.c_str(), 1, qb::Env::Default()));
    std::vector<Bitmap> decoded;
    std::string error;
    ASSERT_TRUE(DecodeTiff(tiff, &decoded, &error)) << error;
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_TRUE(decoded[0].pixels == ExpectedDecode(pages[i], 0).pixels);
  }
}

// Bit-exact code streams for lines whose coding can be worked out by hand.
std::vector<uint8_t> CodeSingleLine(const Bitmap& line, int mode, bool finish) {
  JobFixture fixture;
  PageJob& job = fixture.job();
  const uint16_t width = static_cast<uint16_t>(line.width), height = 1, packing = 1;
  std::memcpy(job.headerRecord + 12, &width, 2);
  std::memcpy(job.headerRecord + 14, &height, 2);
  std::memcpy(job.headerRecord + 22, &packing, 2);
  EXPECT_TRUE(SetupCoder(job));
  job.coder.SetCodingMode(mode);
  const std::string path = (fixture.folder() / "line.bin").string();
  job.pageFile = PageFile::Open(Env::Default(), path, false);
  job.coder.WriteInto(&job.pageFile);
  const std::vector<uint8_t> packed = PackLine(line, 0, true);
  std::memcpy(job.lineBuf, packed.data(), packed.size());
  EXPECT_EQ(job.coder.CodeLine(job.lineBuf), 1);
  if (finish) {
    EXPECT_EQ(job.coder.FinishPage(), 0);
  }
  job.pageFile.Close();
  return ReadFileBytes(path);
}

// Bits of a code stream, first bit first, as text.
std::string BitsOf(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    for (int i = 0; i < 8; ++i) text += ((b >> i) & 1) ? '1' : '0';
  }
  return text;
}

TEST(FaxCoderTest, WhiteMhLineIsEolThenMakeUpAndTerminatingCodes) {
  const std::string bits = BitsOf(CodeSingleLine(BlankBitmap(1728, 1, 0), 1, true));
  const std::string eol = "000000000001";
  std::string expected = eol + "010011011" + "00110101";
  for (int i = 0; i < 6; ++i) expected += eol;
  while (expected.size() % 8) expected += '0';
  EXPECT_EQ(bits, expected);
}

TEST(FaxCoderTest, BlackStartAndLongRunCodes) {
  Bitmap line = BlankBitmap(3008, 1, 0);
  for (int x = 0; x < 3000; ++x) line.At(x, 0) = 1;
  const std::string bits = BitsOf(CodeSingleLine(line, 1, true));
  // EOL, white 0, black: extended 2560 + make-up 384 + terminating 56, then
  // white 8.
  const std::string expected =
      "000000000001"
      "00110101"
      "000000011111"
      "000000110100"
      "000000101000"
      "10011";
  EXPECT_EQ(bits.substr(0, expected.size()), expected);
}

TEST(FaxCoderTest, MmrPageEndsWithEofbPaddedToByte) {
  // An all-white line against the all-white reference is one V0 (1); then
  // EOFB (24 bits) and 7 padding bits.
  const std::string bits = BitsOf(CodeSingleLine(BlankBitmap(1728, 1, 0), 3, true));
  EXPECT_EQ(bits,
            "1"
            "000000000001"
            "000000000001"
            "0000000");
}

TEST(FaxCoderTest, UnknownModeAndMissingSetupFail) {
  FaxCoder never_set_up;
  const uint8_t line[2] = {};
  EXPECT_EQ(never_set_up.CodeLine(line), -1);
  EXPECT_EQ(never_set_up.FinishPage(), -1);
  JobFixture fixture;
  PageJob& job = fixture.job();
  const uint16_t width = 16, height = 1;
  std::memcpy(job.headerRecord + 12, &width, 2);
  EXPECT_FALSE(SetupCoder(job));  // height 0
  std::memcpy(job.headerRecord + 14, &height, 2);
  ASSERT_TRUE(SetupCoder(job));
  job.coder.SetCodingMode(4);
  EXPECT_EQ(job.coder.CodeLine(job.lineBuf), -1);
}

TEST(FaxCoderTest, FailedWriteIsReported) {
  JobFixture fixture;
  PageJob& job = fixture.job();
  const uint16_t width = 1728, height = 1;
  std::memcpy(job.headerRecord + 12, &width, 2);
  std::memcpy(job.headerRecord + 14, &height, 2);
  ASSERT_TRUE(SetupCoder(job));
  FaultEnv env(false);
  job.pageFile = PageFile::Open(env, (fixture.folder() / "full.bin").string(), false);
  ASSERT_TRUE(job.pageFile.IsOpen());
  env.FailWrite(1);  // the disk is full
  job.coder.WriteInto(&job.pageFile);
  EXPECT_EQ(job.coder.CodeLine(job.lineBuf), 1);
  EXPECT_EQ(job.coder.FinishPage(), -1);
  EXPECT_TRUE(job.coder.WriteFailed());
}

}  // namespace
}  // namespace qb::test
