// The coder's fast paths (a line equal to the one before, changes found a
// word at a time, runs from one table, the 64-bit bit sink, the build for
// newer processors and the one for any) against the plain way, byte for
// byte. The pages where they matter most are decoded by libtiff in the
// round-trip test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "imaging/fax_coder.h"
#include "imaging/fax_coder_steps.h"
#include "tests/imaging/imaging_test_support.h"

namespace qb::test {
namespace {

// kFast: the fast way with at most `most` of the processor's instructions
// (each build up to what it has: the 512-bit vector builds only where it has
// AVX-512, and VBMI2 for the second, the 256-bit one where it has AVX2).
enum class Way { kPlain, kFast, kAlternating };

constexpr CoderInstructions kEveryBuild[] = {CoderInstructions::kAny, CoderInstructions::kBitCount,
                                             CoderInstructions::kAvx2, CoderInstructions::kAvx512,
                                             CoderInstructions::kAvx512Vbmi2};

std::vector<uint8_t> Code(const Bitmap& page, const PageFormat& format, bool lsbFirstOutput,
                          Way way, CoderInstructions most = CoderInstructions::kAvx512Vbmi2) {
  PageLayout layout;
  layout.resolutionCode = format.resolutionCode;
  layout.width = static_cast<uint16_t>(page.width);
  layout.height = static_cast<uint16_t>(page.height);
  layout.pixelPacking = format.msbFirst ? 1 : 0;
  layout.polarity = format.polarity;
  LimitCoderInstructions(most);
  FaxCoder coder;
  EXPECT_TRUE(coder.SetUp(layout));
  coder.SetCodingMode(format.codingMode);
  coder.SetPlainCoding(way == Way::kPlain);
  coder.SetLsbFirstOutput(lsbFirstOutput);
  std::string coded;
  PageFile file = PageFile::InMemory(&coded);
  coder.WriteInto(&file);
  for (int y = 0; y < page.height; ++y) {
    // Every third line the plain way: the two must hand the reference line
    // and the out buffer over to each other intact.
    if (way == Way::kAlternating) coder.SetPlainCoding(y % 3 == 1);
    std::vector<uint8_t> line = PackLine(page, y, format.msbFirst);
    EXPECT_EQ(coder.CodeLine(line.data()), 1);
  }
  EXPECT_EQ(coder.FinishPage(), 0);
  EXPECT_EQ(coded.size(), coder.BytesWritten());
  LimitCoderInstructions(CoderInstructions::kAvx512Vbmi2);
  return std::vector<uint8_t>(coded.begin(), coded.end());
}

// Every mode, bit order in and out and polarity: each fast way codes the
// plain way's bytes.
void ExpectEveryWayAlike(const Bitmap& page, const std::string& name) {
  for (int mode : {1, 2, 3}) {
    for (bool msbFirst : {true, false}) {
      for (uint16_t polarity : {0, 1}) {
        for (bool lsbFirstOutput : {true, false}) {
          SCOPED_TRACE(name + " mode " + std::to_string(mode) + " width " +
                       std::to_string(page.width) + (msbFirst ? " msb" : " lsb") + " polarity " +
                       std::to_string(polarity) + (lsbFirstOutput ? " out lsb" : " out msb"));
          PageFormat format;
          format.codingMode = mode;
          format.msbFirst = msbFirst;
          format.polarity = polarity;
          const std::vector<uint8_t> plain = Code(page, format, lsbFirstOutput, Way::kPlain);
          for (CoderInstructions most : kEveryBuild) {
            EXPECT_EQ(Code(page, format, lsbFirstOutput, Way::kFast, most), plain)
                << "fast, instructions up to " << static_cast<int>(most);
          }
          EXPECT_EQ(Code(page, format, lsbFirstOutput, Way::kAlternating), plain) << "alternating";
        }
      }
    }
  }
}

TEST(FaxFastPathsTest, PagesCodeTheSameBytesAsThePlainWay) {
  const std::vector<std::pair<const char*, Bitmap>> pages = {
      {"office 1728", OfficeLikeBitmap(1728, 200)},
      {"office 4960", OfficeLikeBitmap(4960, 60)},
      {"office 1730", OfficeLikeBitmap(1730, 50)},
      {"office 61", OfficeLikeBitmap(61, 40)},
      {"text", TextLikeBitmap(2480, 80, 5)},
      {"random", RandomBitmap(1736, 30, 9)},
      // Several out buffers' worth: flushes in the middle of a line.
      {"random large", RandomBitmap(4960, 120, 3)},
      {"alternating", AlternatingBitmap(1728, 8)},
      {"black", BlankBitmap(1728, 9, 1)},
      {"every run", EveryRunBitmap(5000, 2700)},
  };
  for (const auto& [name, page] : pages) ExpectEveryWayAlike(page, name);
}

// Lines made to put changes where the word-at-a-time search joins words
// (pixels 63 and 64, 127 and 128), at the line's ends and in its last,
// partial byte, each line followed by a repeat of itself and by lines that
// move its changes by a few pixels (vertical codes across a word edge).
Bitmap WordEdgeLines(int width) {
  std::vector<std::vector<uint8_t>> rows;
  auto row = [&](std::initializer_list<std::pair<int, int>> blackRuns) {
    std::vector<uint8_t> r(static_cast<size_t>(width), 0);
    for (const auto& [from, to] : blackRuns) {
      for (int x = std::max(from, 0); x < std::min(to, width); ++x) r[static_cast<size_t>(x)] = 1;
    }
    rows.push_back(r);
    rows.push_back(r);  // a repeat
  };
  for (int x : {0, 1, 62, 63, 64, 65, 126, 127, 128, 129, 510, 511, 512, 513, 1023, 1024, width - 9,
                width - 8, width - 1}) {
    row({{x, x + 1}});
    for (int shift : {-4, -3, -1, 1, 3, 4}) row({{x + shift, x + shift + 1}});
    row({{x, width}});
    row({{0, x}});
  }
  row({{60, 68}, {120, 136}});
  row({{0, width}});
  row({});
  row({{0, width}});
  row({{0, 64}, {128, 192}});
  row({{64, 128}, {192, 256}});
  Bitmap page;
  page.width = width;
  page.height = static_cast<int>(rows.size());
  for (const std::vector<uint8_t>& r : rows)
    page.pixels.insert(page.pixels.end(), r.begin(), r.end());
  return page;
}

TEST(FaxFastPathsTest, ChangesAtWordEdgesCodeTheSameBytesAsThePlainWay) {
  for (int width : {9, 63, 64, 65, 71, 128, 129, 200, 512, 513, 520, 1030, 1728, 1735, 2600}) {
    ExpectEveryWayAlike(WordEdgeLines(width), "word edges");
  }
}

// Bars a few pixels wide whose edges move by up to three pixels from line
// to line (long stretches of vertical codes, longer than the 32 elements
// the vector coding takes at once), now and then one moved further, a bar
// dropped (horizontal and pass codes inside a stretch), three dropped
// together (passes in a row, as at the foot of a line of text) or one
// widened over the next bar's place (a bar of the line above inside a run
// of this one).
Bitmap JitteredBars(int width, int height, unsigned seed) {
  Bitmap page;
  page.width = width;
  page.height = height;
  page.pixels.assign(static_cast<size_t>(width) * height, 0);
  std::vector<int> edges;
  for (int x = 2; x + 12 < width; x += 9) edges.push_back(x);
  unsigned state = seed;
  auto next = [&] { return (state = state * 1103515245u + 12345u) >> 16; };
  for (int y = 0; y < height; ++y) {
    size_t droppedUntil = 0;
    for (size_t e = 0; e < edges.size(); ++e) {
      const unsigned roll = next() % 64;
      const int move = roll == 0 ? 5 : roll == 1 ? -5 : static_cast<int>(next() % 7) - 3;
      edges[e] =
          std::clamp(edges[e] + move, 9 * static_cast<int>(e) + 1, 9 * static_cast<int>(e) + 7);
      if (roll == 2) continue;  // no bar on this line
      if (roll == 3) droppedUntil = e + 3;
      if (e < droppedUntil) continue;
      const int wide = roll == 4 ? 14 : 3;
      for (int x = edges[e]; x < edges[e] + wide && x < width; ++x) {
        page.pixels[static_cast<size_t>(y) * width + x] = 1;
      }
    }
  }
  return page;
}

// Bars whose edges all move three pixels from line to line, so every
// vertical code is one of the longest, with a bar missing from each line (a
// pass inside the stretch, and a horizontal code where it comes back): the
// vector coding's groups of eight codes at their longest, 60 bits.
Bitmap LongestVerticalCodes(int width, int height) {
  Bitmap page;
  page.width = width;
  page.height = height;
  page.pixels.assign(static_cast<size_t>(width) * height, 0);
  const int bars = (width - 8) / 10;
  for (int y = 0; y < height; ++y) {
    for (int bar = 0; bar < bars; ++bar) {
      if (bars > 0 && bar == (y * 7) % bars) continue;
      const int from = 10 * bar + (y % 2 == 0 ? 1 : 4);
      for (int x = from; x < from + 4; ++x) page.pixels[static_cast<size_t>(y) * width + x] = 1;
    }
  }
  return page;
}

TEST(FaxFastPathsTest, StretchesOfVerticalCodesCodeTheSameBytesAsThePlainWay) {
  for (int width : {40, 300, 1728}) {
    ExpectEveryWayAlike(JitteredBars(width, 60, 7), "jittered bars");
    ExpectEveryWayAlike(LongestVerticalCodes(width, 40), "longest vertical codes");
  }
}

}  // namespace
}  // namespace qb::test
