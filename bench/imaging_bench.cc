// Fax coding speed of our coder against libtiff's CCITT encoder on the same
// A4 pages (random text, and office-like pages: letterhead, paragraphs, a
// ruled table, a signature), and the TIFF-to-PDF conversion of a 20-page
// 600 dpi document. After the benchmark table it prints MB/s of bitmap,
// output sizes and the speed ratio (ours / libtiff) per page and mode, and
// whether our code is byte for byte libtiff's.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "config/folders.h"
#include "imaging/fax_coder.h"
#include "imaging/fax_coder_steps.h"
#include "imaging/page_files.h"
#include "imaging/pdf/hg_tiff2pdf.h"
#include "office_pages.h"
#include "scanproto/document.h"

namespace {

using Page = qb::bench::Bitmap;

// Printed-text statistics: lines of glyph strokes with white margins.
Page TextPage(int width, int height, int dpi) {
  Page page{"random text " + std::to_string(dpi), width, height,
            std::vector<uint8_t>(static_cast<size_t>(width / 8) * height, 0)};
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

// The raw road's image data packets carry at most this many bytes.
constexpr size_t kPacketBytes = 24576;

void OurCoder(benchmark::State& state, const Page* page, int mode, const char* name) {
  auto doc = std::make_unique<qb::Document>(qb::Env::Default());
  const uint16_t fields[][2] = {{12, static_cast<uint16_t>(page->width)},
                                {14, static_cast<uint16_t>(page->height)},
                                {22, 1},
                                {10, 0x0600}};
  uint8_t record[qb::kImageHeaderSize] = {};
  for (const auto& f : fields) std::memcpy(record + f[0], &f[1], 2);
  const qb::PageLayout layout = qb::PageLayoutOfRecord(record);
  doc->pageFile = qb::PageFile::Open(qb::Env::Default(), "/dev/null", false);
  doc->coder.SetUp(layout);
  doc->coder.WriteInto(&doc->pageFile);
  double outBytes = 0;
  const std::clock_t start = std::clock();
  for (auto _ : state) {
    doc->coder.Reset(layout);
    doc->coder.SetCodingMode(mode);
    // As the receiver does: the lines a 24 KB packet holds whole are coded
    // where they lie, one call per packet; a line split between two packets
    // is gathered in the document's line buffer first.
    const size_t stride = static_cast<size_t>(page->Stride());
    const size_t total = page->bits.size();
    for (size_t at = 0; at < total;) {
      const size_t packetEnd = std::min(at + kPacketBytes, total);
      const size_t whole = (packetEnd - at) / stride;
      doc->coder.CodeLines(&page->bits[at], whole);
      at += whole * stride;
      if (at < total && packetEnd < total) {
        std::memcpy(doc->lineBuf, &page->bits[at], stride);
        doc->coder.CodeLine(doc->lineBuf);
        at += stride;
      }
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
  std::clock_t spent = 0;
  for (auto _ : state) {
    // libtiff may code in place, so it gets a fresh copy each time, made
    // outside the time counted.
    state.PauseTiming();
    std::vector<uint8_t> copy = page->bits;
    state.ResumeTiming();
    const std::clock_t start = std::clock();
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
    TIFFWriteEncodedStrip(tiff, 0, copy.data(), static_cast<tmsize_t>(copy.size()));
    uint64_t* counts = nullptr;
    TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &counts);
    outBytes = counts != nullptr ? static_cast<double>(counts[0]) : 0;
    TIFFClose(tiff);
    spent += std::clock() - start;
  }
  // Process CPU time, not wall time: the build machine is shared.
  const double seconds = static_cast<double>(spent) / CLOCKS_PER_SEC;
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
  auto doc = std::make_unique<qb::Document>(qb::Env::Default());
  const Page& page = A4At600();
  const uint16_t fields[][2] = {{12, 4960}, {14, 7016}, {22, 1}, {10, 0x0600}, {4, 40}};
  uint8_t record[qb::kImageHeaderSize] = {};
  for (const auto& f : fields) std::memcpy(record + f[0], &f[1], 2);
  const qb::PageLayout layout = qb::PageLayoutOfRecord(record);
  qb::TempPageCounter tempPages;
  for (int p = 0; p < 20; ++p) {
    tempPages.MakeTempPageName(p, doc->curFilePath, sizeof doc->curFilePath, &doc->tempJobNo,
                               qb::Env::Default());
    if (p == 0) {
      doc->coder.SetUp(layout);
    } else {
      doc->coder.Reset(layout);
    }
    doc->pageFile = qb::PageFile::Open(qb::Env::Default(), doc->curFilePath, false);
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
  qb::WriteTiff(doc->tempJobNo, 0, 3, 1, tiff.c_str(), 20, qb::Env::Default());
  return tiff;
}

void Tiff2Pdf20Pages(benchmark::State& state) {
  static const std::string tiff = MakeTwentyPageTiff();
  const std::string pdf = (PdfFolder() / "doc.pdf").string();
  for (auto _ : state) {
    if (qb::hgTiff2Pdf(tiff.c_str(), pdf.c_str(), 0, 0, 0, qb::Env::Default()) != 0)
      state.SkipWithError("failed");
  }
  state.counters["tiff_bytes"] = static_cast<double>(std::filesystem::file_size(tiff));
  state.counters["pdf_bytes"] = static_cast<double>(std::filesystem::file_size(pdf));
}

// Every page the benchmarks code: random text and the office pages.
const std::vector<Page>& AllPages() {
  static const std::vector<Page> pages = [] {
    std::vector<Page> all{A4At600(), A4At200()};
    for (int dpi : {600, 200}) {
      std::vector<Page> office = qb::bench::OfficePages(dpi);
      if (office.empty()) std::fprintf(stderr, "office pages at %d dpi cannot be made\n", dpi);
      for (Page& page : office) all.push_back(std::move(page));
    }
    return all;
  }();
  return pages;
}

// Our code of the page, as the coder writes it into a page file.
std::vector<uint8_t> OurCode(const Page& page, int mode) {
  const std::string path = (std::filesystem::temp_directory_path() / "qb_bench_ours.bin").string();
  auto doc = std::make_unique<qb::Document>(qb::Env::Default());
  const uint16_t fields[][2] = {{12, static_cast<uint16_t>(page.width)},
                                {14, static_cast<uint16_t>(page.height)},
                                {22, 1},
                                {10, 0x0600}};
  uint8_t record[qb::kImageHeaderSize] = {};
  for (const auto& f : fields) std::memcpy(record + f[0], &f[1], 2);
  doc->pageFile = qb::PageFile::Open(qb::Env::Default(), path, false);
  doc->coder.SetUp(qb::PageLayoutOfRecord(record));
  doc->coder.SetCodingMode(mode);
  doc->coder.WriteInto(&doc->pageFile);
  for (int y = 0; y < page.height; ++y) {
    std::memcpy(doc->lineBuf, &page.bits[static_cast<size_t>(y) * page.Stride()], page.Stride());
    doc->coder.CodeLine(doc->lineBuf);
  }
  doc->coder.FinishPage();
  doc->pageFile.Close();
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> code((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  return code;
}

// libtiff's code of the page: the raw strip of the file it wrote.
std::vector<uint8_t> LibtiffCode(const Page& page, int compression) {
  const std::string path = (std::filesystem::temp_directory_path() / "qb_bench_theirs.tif").string();
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, page.height);
  if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, 0);
  std::vector<uint8_t> copy = page.bits;
  TIFFWriteEncodedStrip(tiff, 0, copy.data(), static_cast<tmsize_t>(copy.size()));
  TIFFClose(tiff);
  tiff = TIFFOpen(path.c_str(), "r");
  uint64_t* counts = nullptr;
  TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &counts);
  std::vector<uint8_t> code(counts != nullptr ? counts[0] : 0);
  TIFFReadRawStrip(tiff, 0, code.data(), static_cast<tmsize_t>(code.size()));
  TIFFClose(tiff);
  std::remove(path.c_str());
  return code;
}

void PrintComparison() {
  std::printf("\n%-16s %-4s %10s %12s %8s %11s %11s %9s\n", "page", "mode", "ours MB/s",
              "libtiff MB/s", "ratio", "ours bytes", "libtiff", "identical");
  for (const Page& page : AllPages()) {
    for (const auto& [mode, ourMode, theirMode] : {std::tuple{"MH", 1, COMPRESSION_CCITTFAX3},
                                                   std::tuple{"MMR", 3, COMPRESSION_CCITTFAX4}}) {
      const Result ours = g_results[std::string("ours ") + mode + " " + page.name];
      const Result theirs = g_results[std::string("libtiff ") + mode + " " + page.name];
      if (ours.seconds <= 0 || theirs.seconds <= 0) continue;
      const double megabytes = static_cast<double>(page.bits.size()) / 1e6;
      // MH: ours ends the page with RTC (six EOLs), which libtiff leaves
      // out; everything before its last, padded byte must match.
      const std::vector<uint8_t> ourCode = OurCode(page, ourMode);
      const std::vector<uint8_t> theirCode = LibtiffCode(page, theirMode);
      const bool prefix = !theirCode.empty() && ourCode.size() > theirCode.size() &&
                          std::equal(theirCode.begin(), theirCode.end() - 1, ourCode.begin());
      const char* same = ourCode == theirCode ? "yes" : prefix ? "yes+RTC" : "NO";
      std::printf("%-16s %-4s %10.1f %12.1f %8.2f %11.0f %11.0f %9s\n", page.name.c_str(), mode,
                  megabytes / ours.seconds, megabytes / theirs.seconds,
                  theirs.seconds / ours.seconds, ours.outBytes, theirs.outBytes,
                  same);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // QB_CODER_INSTRUCTIONS=any, bitcount, avx2 or avx512 measures a build of
  // our coder for older processors on this one.
  if (const char* most = std::getenv("QB_CODER_INSTRUCTIONS")) {
    const std::string name = most;
    qb::LimitCoderInstructions(name == "any"        ? qb::CoderInstructions::kAny
                               : name == "bitcount" ? qb::CoderInstructions::kBitCount
                               : name == "avx2"     ? qb::CoderInstructions::kAvx2
                               : name == "avx512"   ? qb::CoderInstructions::kAvx512
                                                    : qb::CoderInstructions::kAvx512Vbmi2);
  }
  for (const Page& page : AllPages()) {
    const Page* p = &page;
    for (const auto& [mode, ourMode, theirMode] : {std::tuple{"MH", 1, COMPRESSION_CCITTFAX3},
                                                   std::tuple{"MMR", 3, COMPRESSION_CCITTFAX4}}) {
      static std::deque<std::string> names;  // stable: the benchmarks keep the pointers
      names.push_back(std::string("ours ") + mode + " " + p->name);
      benchmark::RegisterBenchmark(names.back().c_str(), OurCoder, p, ourMode,
                                   names.back().c_str())
          ->Unit(benchmark::kMillisecond);
      names.push_back(std::string("libtiff ") + mode + " " + p->name);
      benchmark::RegisterBenchmark(names.back().c_str(), LibtiffCoder, p, theirMode,
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
