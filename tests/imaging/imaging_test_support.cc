#include "tests/imaging/imaging_test_support.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "config/folders.h"
#include "imaging/fax_coder.h"
#include "imaging/page_files.h"

namespace qb::test {

Bitmap BlankBitmap(int width, int height, uint8_t value) {
  return {width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height, value)};
}

Bitmap TextLikeBitmap(int width, int height, uint32_t seed) {
  // Lines of "glyphs": short strokes and blobs with wide white margins,
  // roughly the run statistics of a printed page.
  Bitmap b = BlankBitmap(width, height, 0);
  std::mt19937 random(seed);
  const int lineHeight = std::max(8, height / 40);
  const int glyph = std::max(4, lineHeight * 2 / 3);
  for (int top = lineHeight; top + glyph < height - lineHeight; top += lineHeight * 3 / 2) {
    for (int left = width / 12; left + glyph < width - width / 12; left += glyph + glyph / 4) {
      if (random() % 7 == 0) continue;  // word gap
      const int strokes = 1 + static_cast<int>(random() % 3);
      for (int s = 0; s < strokes; ++s) {
        const int x0 = left + static_cast<int>(random() % glyph);
        const int y0 = top + static_cast<int>(random() % glyph);
        const int w = 1 + static_cast<int>(random() % (glyph / 2));
        const int h = 1 + static_cast<int>(random() % glyph);
        for (int y = y0; y < std::min(y0 + h, height); ++y) {
          for (int x = x0; x < std::min(x0 + w, width); ++x) b.At(x, y) = 1;
        }
      }
    }
  }
  return b;
}

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

Bitmap AlternatingBitmap(int width, int height) {
  Bitmap b = BlankBitmap(width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) b.At(x, y) = static_cast<uint8_t>((x + y) & 1);
  }
  return b;
}

Bitmap EveryRunBitmap(int width, int maxRun) {
  // Runs 0, 0, 1, 1, 2, 2, ... of alternating colours, row after row, the
  // last row filled up with white.
  std::vector<uint8_t> pixels;
  uint8_t colour = 0;
  for (int run = 0; run <= maxRun; ++run) {
    for (int pass = 0; pass < 2; ++pass, colour ^= 1) pixels.insert(pixels.end(), run, colour);
  }
  pixels.resize((pixels.size() / width + 1) * width, 0);
  return {width, static_cast<int>(pixels.size() / width), pixels};
}

Bitmap RandomBitmap(int width, int height, uint32_t seed) {
  Bitmap b = BlankBitmap(width, height, 0);
  std::mt19937 random(seed);
  for (auto& p : b.pixels) p = static_cast<uint8_t>(random() & 1);
  return b;
}

std::vector<uint8_t> PackLine(const Bitmap& page, int y, bool msbFirst) {
  std::vector<uint8_t> line(page.width / 8, 0);
  for (int x = 0; x < page.width / 8 * 8; ++x) {
    if (page.At(x, y) == 0) continue;
    const int bit = msbFirst ? 7 - x % 8 : x % 8;
    line[x / 8] |= static_cast<uint8_t>(1u << bit);
  }
  return line;
}

bool SetupCoder(PageJob& job) { return job.coder.SetUp(PageLayoutOfRecord(job.headerRecord)); }

// As large as the receiver's line buffer.
JobFixture::JobFixture() : lineBuf_(10240), folder_(scratch_.path()) {
  job_.lineBuf = lineBuf_.data();
  ::setenv("TMP", folder_.c_str(), 1);
  InitTempFolder();
}

bool JobFixture::CodePages(const std::vector<Bitmap>& pages, const PageFormat& format) {
  PageJob& job = job_;
  for (const Bitmap& page : pages) {
    const uint16_t fields[][2] = {
        {10, format.resolutionCode},
        {12, static_cast<uint16_t>(page.width)},
        {14, static_cast<uint16_t>(page.height)},
        {22, static_cast<uint16_t>(format.msbFirst ? 1 : 0)},
        {24, format.polarity},
        {4, 40},  // a format name offset, as a raw-road header has
    };
    for (const auto& field : fields) std::memcpy(job.headerRecord + field[0], &field[1], 2);
    if (!tempPages_.MakeTempPageName(job.pageCount, job.curFilePath, sizeof job.curFilePath,
                                     &job.tempJobNo, qb::Env::Default())) {
      return false;
    }
    if (job.pageCount == 0) {
      if (!SetupCoder(job)) return false;
    } else {
      job.coder.Reset(PageLayoutOfRecord(job.headerRecord));
    }
    job.coder.SetCodingMode(format.codingMode);
    job.pageFile = PageFile::Open(Env::Default(), job.curFilePath, false);
    if (!job.pageFile.IsOpen()) return false;
    job.coder.WriteInto(&job.pageFile);
    job.pageFile.Write(job.headerRecord, kImageHeaderSize);
    for (int y = 0; y < page.height; ++y) {
      const std::vector<uint8_t> line = PackLine(page, y, format.msbFirst);
      std::memcpy(job.lineBuf, line.data(), line.size());
      if (job.coder.CodeLine(job.lineBuf) < 0) return false;
    }
    const int finished = job.coder.FinishPage();
    job.pageFile.Close();
    if (finished < 0) return false;
    ++job.pageCount;
  }
  return true;
}

namespace {

std::string* g_libtiffMessages = nullptr;

void CollectLibtiffMessage(const char* module, const char* format, va_list args) {
  if (g_libtiffMessages == nullptr) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  *g_libtiffMessages += std::string(module ? module : "") + ": " + text + "\n";
}

}  // namespace

bool DecodeTiff(const std::string& path, std::vector<Bitmap>* pages, std::string* error) {
  std::string messages;
  g_libtiffMessages = &messages;
  TIFFErrorHandler oldError = TIFFSetErrorHandler(CollectLibtiffMessage);
  TIFFErrorHandler oldWarning = TIFFSetWarningHandler(CollectLibtiffMessage);
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  bool ok = tiff != nullptr;
  while (ok) {
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    Bitmap page = BlankBitmap(static_cast<int>(width), static_cast<int>(height), 0);
    std::vector<uint8_t> row(TIFFScanlineSize(tiff));
    for (uint32_t y = 0; ok && y < height; ++y) {
      ok = TIFFReadScanline(tiff, row.data(), y, 0) == 1;
      for (uint32_t x = 0; ok && x < width; ++x) {
        page.At(static_cast<int>(x), static_cast<int>(y)) = (row[x / 8] >> (7 - x % 8)) & 1;
      }
    }
    pages->push_back(std::move(page));
    if (!TIFFReadDirectory(tiff)) break;
  }
  if (tiff != nullptr) TIFFClose(tiff);
  TIFFSetErrorHandler(oldError);
  TIFFSetWarningHandler(oldWarning);
  g_libtiffMessages = nullptr;
  // Warnings count too: libtiff only warns about a line of the wrong length.
  if (!messages.empty()) ok = false;
  if (error != nullptr) *error = messages;
  return ok;
}

Bitmap ExpectedDecode(const Bitmap& input, uint16_t polarity) {
  Bitmap expected = input;
  const int coded = input.width / 8 * 8;
  for (int y = 0; y < input.height; ++y) {
    for (int x = 0; x < input.width; ++x) {
      expected.At(x, y) = x < coded ? static_cast<uint8_t>(input.At(x, y) ^ (polarity != 0)) : 0;
    }
  }
  return expected;
}

int RunCommand(const std::string& command, std::string* output) {
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output != nullptr) output->append(buffer, got);
  }
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace qb::test
