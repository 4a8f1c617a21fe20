// Fax coding speed of our coder against libtiff's CCITT encoder on the same
// A4 pages, and the TIFF-to-PDF conversion of a 20-page 600 dpi document.
// After the benchmark table it prints MB/s of bitmap, output sizes and the
// speed ratio (ours / libtiff) per page and mode.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "config/folders.h"
#include "imaging/fax_coder.h"
#include "imaging/page_files.h"
#include "imaging/pdf/hg_tiff2pdf.h"
#include "scanproto/document.h"

namespace {

struct Page {
  int width;
  int height;
  std::vector<uint8_t> bits;  // MSB first, 1 = black, width / 8 bytes per line
  int Stride() const { return width / 8; }
};

// Printed-text statistics: lines of glyph strokes with white margins.
Page TextPage(int width, int height, int dpi) {
  Page page{width, height, std::vector<uint8_t>(static_cast<size_t>(width / 8) * height, 0)};
  std::mt19937 random(42);
  const int lineHeight = dpi / 6;  // 12 pt lines
  const int glyph = dpi / 10;
  auto set = [&](int x, int y) { page.bits[y * page.Stride() + x / 8] |= 0x80 >> (x % 8); };
  for (int top = dpi / 2; top + lineHeight < height - dpi / 2; top += lineHeight) {
    for (int left = dpi / 2; left + glyph < width - dpi / 2; left += glyph * 6 / 5) {
      if (random() % 6 == 0) continue;
      for (int stroke = 0; stroke < 3; ++stroke) {
        const int x0 = left + static_cast<int>(random() % glyph);
        const int y0 = top + static_cast<int>(random() % glyph);
        const int w = 1 + static_cast<int>(random() % (glyph / 5 + 1));
        const int h = 1 + static_cast<int>(random() % glyph);
        for (int y = y0; y < y0 + h && y < height; ++y) {
          for (int x = x0; x < x0 + w && x < width; ++x) set(x, y);
        }
      }
    }
  }
  return page;
}

const Page& A4At600() {
  static const Page page = TextPage(4960, 7016, 600);
  return page;
}
const Page& A4At200() {
  static const Page page = TextPage(1728, 2339, 200);
  return page;
}

struct Result {
  double seconds = 0;   // per page
  double outBytes = 0;  // coded bytes per page
};
std::map<std::string, Result> g_results;

void Record(const std::string& name, double seconds, int64_t iterations, double outBytes) {
  if (iterations > 0) g_results[name] = {seconds / iterations, outBytes};
}

void OurCoder(benchmark::State& state, const Page* page, int mode, const char* name) {
  auto doc = std::make_unique<qb::Document>();
  const uint16_t fields[][2] = {{12, static_cast<uint16_t>(page->width)},
                                {14, static_cast<uint16_t>(page->height)},
                                {22, 1},
                                {10, 0x0600}};
  uint8_t record[qb::kImageHeaderSize] = {};
  for (const auto& f : fields) std::memcpy(record + f[0], &f[1], 2);
  const qb::PageLayout layout = qb::PageLayoutOfRecord(record);
  doc->pageFile = qb::PageFile(std::fopen("/dev/null", "wb"));
  doc->coder.SetUp(layout);
  doc->coder.WriteInto(&doc->pageFile);
  double outBytes = 0;
  const std::clock_t start = std::clock();
  for (auto _ : state) {
    doc->coder.Reset(layout);
    doc->coder.SetCodingMode(mode);
    // Lines arrive one at a time in the document's line buffer.
    for (int y = 0; y < page->height; ++y) {
      std::memcpy(doc->lineBuf, &page->bits[static_cast<size_t>(y) * page->Stride()],
                  page->Stride());
      doc->coder.CodeLine(doc->lineBuf);
    }
    doc->coder.FinishPage();
    outBytes = doc->coder.BytesWritten();
  }
  // Process CPU time, not wall time: the build machine is shared.
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  Record(name, seconds, state.iterations(), outBytes);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page->bits.size()));
  state.counters["out_bytes"] = outBytes;
}

void LibtiffCoder(benchmark::State& state, const Page* page, int compression, const char* name) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "qb_bench_libtiff.tif").string();
  TIFFSetWarningHandler(nullptr);
  double outBytes = 0;
  const std::clock_t start = std::clock();
  for (auto _ : state) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page->width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page->height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, page->height);
    if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, 0);
    // libtiff may code in place, so it gets a fresh copy each time (copy
    // time is excluded below).
    state.PauseTiming();
    std::vector<uint8_t> copy = page->bits;
    state.ResumeTiming();
    TIFFWriteEncodedStrip(tiff, 0, copy.data(), static_cast<tmsize_t>(copy.size()));
    uint64_t* counts = nullptr;
    TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &counts);
    outBytes = counts != nullptr ? static_cast<double>(counts[0]) : 0;
    TIFFClose(tiff);
  }
  // Process CPU time, not wall time: the build machine is shared.
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  Record(name, seconds, state.iterations(), outBytes);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page->bits.size()));
  state.counters["out_bytes"] = outBytes;
  std::remove(path.c_str());
}

// 20 pages at 600 dpi, coded with our MMR coder and assembled once.
const std::filesystem::path& PdfFolder() {
  static const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "qb_bench_pdf";
  return folder;
}

// Codes the document once; returns the TIFF's path.
std::string MakeTwentyPageTiff() {
  const std::filesystem::path& folder = PdfFolder();
  std::filesystem::create_directories(folder);
  ::setenv("TMP", folder.c_str(), 1);
  qb::InitTempFolder();
  auto doc = std::make_unique<qb::Document>();
  const Page& page = A4At600();
  const uint16_t fields[][2] = {{12, 4960}, {14, 7016}, {22, 1}, {10, 0x0600}, {4, 40}};
  uint8_t record[qb::kImageHeaderSize] = {};
  for (const auto& f : fields) std::memcpy(record + f[0], &f[1], 2);
  const qb::PageLayout layout = qb::PageLayoutOfRecord(record);
  qb::TempPageCounter tempPages;
  for (int p = 0; p < 20; ++p) {
    tempPages.MakeTempPageName(p, doc->curFilePath, sizeof doc->curFilePath, &doc->tempJobNo);
    if (p == 0) {
      doc->coder.SetUp(layout);
    } else {
      doc->coder.Reset(layout);
    }
    doc->pageFile = qb::PageFile(std::fopen(doc->curFilePath, "wb"));
    doc->coder.WriteInto(&doc->pageFile);
    doc->pageFile.Write(record, qb::kImageHeaderSize);
    for (int y = 0; y < page.height; ++y) {
      std::memcpy(doc->lineBuf, &page.bits[static_cast<size_t>(y) * page.Stride()], page.Stride());
      doc->coder.CodeLine(doc->lineBuf);
    }
    doc->coder.FinishPage();
    doc->pageFile.Close();
  }
  const std::string tiff = (folder / "doc.tif").string();
  qb::WriteTiff(doc->tempJobNo, 0, 3, 1, tiff.c_str(), 20);
  return tiff;
}

void Tiff2Pdf20Pages(benchmark::State& state) {
  static const std::string tiff = MakeTwentyPageTiff();
  const std::string pdf = (PdfFolder() / "doc.pdf").string();
  for (auto _ : state) {
    if (qb::hgTiff2Pdf(tiff.c_str(), pdf.c_str(), 0, 0, 0) != 0) state.SkipWithError("failed");
  }
  state.counters["tiff_bytes"] = static_cast<double>(std::filesystem::file_size(tiff));
  state.counters["pdf_bytes"] = static_cast<double>(std::filesystem::file_size(pdf));
}

void PrintComparison() {
  std::printf("\n%-12s %-4s %12s %12s %8s %12s %12s %8s\n", "page", "mode", "ours MB/s",
              "libtiff MB/s", "ratio", "ours bytes", "libtiff", "size");
  const struct {
    const char* page;
    const Page& bits;
  } pages[] = {{"A4 600 dpi", A4At600()}, {"A4 200 dpi", A4At200()}};
  for (const auto& p : pages) {
    for (const char* mode : {"MH", "MMR"}) {
      const Result ours = g_results[std::string("ours ") + mode + " " + p.page];
      const Result theirs = g_results[std::string("libtiff ") + mode + " " + p.page];
      if (ours.seconds <= 0 || theirs.seconds <= 0) continue;
      const double megabytes = static_cast<double>(p.bits.bits.size()) / 1e6;
      std::printf("%-12s %-4s %12.1f %12.1f %8.2f %12.0f %12.0f %+7.2f%%\n", p.page, mode,
                  megabytes / ours.seconds, megabytes / theirs.seconds,
                  theirs.seconds / ours.seconds, ours.outBytes, theirs.outBytes,
                  100.0 * (ours.outBytes - theirs.outBytes) / theirs.outBytes);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const struct {
    const char* name;
    const Page* page;
  } pages[] = {{"A4 600 dpi", &A4At600()}, {"A4 200 dpi", &A4At200()}};
  for (const auto& p : pages) {
    for (const auto& [mode, ourMode, theirMode] : {std::tuple{"MH", 1, COMPRESSION_CCITTFAX3},
                                                   std::tuple{"MMR", 3, COMPRESSION_CCITTFAX4}}) {
      static std::deque<std::string> names;  // stable: the benchmarks keep the pointers
      names.push_back(std::string("ours ") + mode + " " + p.name);
      benchmark::RegisterBenchmark(names.back().c_str(), OurCoder, p.page, ourMode,
                                   names.back().c_str())
          ->Unit(benchmark::kMillisecond);
      names.push_back(std::string("libtiff ") + mode + " " + p.name);
      benchmark::RegisterBenchmark(names.back().c_str(), LibtiffCoder, p.page, theirMode,
                                   names.back().c_str())
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RegisterBenchmark("hgTiff2Pdf 20 pages 600 dpi", Tiff2Pdf20Pages)
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintComparison();
  std::error_code ignored;
  std::filesystem::remove_all(PdfFolder(), ignored);
  return 0;
}
