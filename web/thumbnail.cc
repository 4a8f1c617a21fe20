#include "web/thumbnail.h"

#include <jpeglib.h>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/env.h"
#include "web/picture.h"

namespace qb {
namespace {

// Decoded pages larger than this (in pixels) are refused when they must
// be decoded whole: 16 M pixels are 64 MB as RGBA.
constexpr int64_t kMaxWholePixels = 16 * 1024 * 1024;
// A JPEG is decoded from memory; larger files are refused.
constexpr uint64_t kMaxJpegBytes = 64u << 20;

void Quiet(const char*, const char*, va_list) {}
void QuietPoppler(const std::string&, void*) {}

void SilenceDecoders() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(Quiet);
    TIFFSetWarningHandler(Quiet);
    poppler::set_debug_error_function(QuietPoppler, nullptr);
  });
}

ThumbnailResult Fail(std::string why) { return {{}, std::move(why), 0}; }

ThumbnailResult Done(const Picture& picture, int pages = 1) {
  std::string png = EncodePng(picture);
  if (png.empty()) return Fail("the thumbnail could not be encoded");
  return {std::move(png), {}, pages};
}

// A bilevel page, decoded a row at a time (a fax page of one strip).
ThumbnailResult BilevelTiff(TIFF* tiff, uint32_t width, uint32_t height) {
  uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  const tmsize_t lineBytes = TIFFScanlineSize(tiff);
  if (lineBytes <= 0 || static_cast<uint64_t>(lineBytes) * 8 < width) return Fail("broken TIFF rows");
  std::vector<uint8_t> packed(static_cast<size_t>(lineBytes));
  std::vector<uint8_t> grey(width);
  Shrinker shrinker(static_cast<int>(width), static_cast<int>(height), 1, kThumbnailWidth,
                    kThumbnailHeight);
  const uint8_t ink = photometric == PHOTOMETRIC_MINISWHITE ? 0 : 255;
  for (uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(tiff, packed.data(), y, 0) < 0) break;  // what was read still shows
    for (uint32_t x = 0; x < width; ++x) {
      const bool set = (packed[x >> 3] >> (7 - (x & 7))) & 1;
      grey[x] = set ? ink : static_cast<uint8_t>(255 - ink);
    }
    shrinker.AddRow(static_cast<int>(y), grey.data());
  }
  return Done(shrinker.Finish());
}

ThumbnailResult FromTiff(const std::string& path) {
  std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(path.c_str(), "r"), TIFFClose);
  if (!tiff) return Fail("not a readable TIFF");
  uint32_t width = 0, height = 0;
  uint16_t bits = 1, samples = 1;
  TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
  if (width == 0 || height == 0 || width > 65535 || height > 65535) return Fail("TIFF size out of range");
  const int pages = static_cast<int>(TIFFNumberOfDirectories(tiff.get()));
  if (bits == 1 && samples == 1) {
    ThumbnailResult result = BilevelTiff(tiff.get(), width, height);
    result.pages = result.png.empty() ? 0 : pages;
    return result;
  }
  if (static_cast<int64_t>(width) * height > kMaxWholePixels) return Fail("TIFF page too large");
  std::vector<uint32_t> rgba(static_cast<size_t>(width) * height);
  if (!TIFFReadRGBAImageOriented(tiff.get(), width, height, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
    return Fail("TIFF page could not be decoded");
  }
  Shrinker shrinker(static_cast<int>(width), static_cast<int>(height), 3, kThumbnailWidth,
                    kThumbnailHeight);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t pixel = rgba[static_cast<size_t>(y) * width + x];
      row[x * 3] = static_cast<uint8_t>(TIFFGetR(pixel));
      row[x * 3 + 1] = static_cast<uint8_t>(TIFFGetG(pixel));
      row[x * 3 + 2] = static_cast<uint8_t>(TIFFGetB(pixel));
    }
    shrinker.AddRow(static_cast<int>(y), row.data());
  }
  return Done(shrinker.Finish(), pages);
}

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void JpegFailed(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

void JpegQuiet(j_common_ptr, int) {}

ThumbnailResult FromJpeg(Env& env, const std::string& path) {
  FileInfo about;
  if (!env.Stat(path, &about).ok() || about.size > kMaxJpegBytes) return Fail("JPEG too large");
  std::string data;
  if (!ReadWholeFile(env, path, &data).ok() || data.empty()) return Fail("the file cannot be read");
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegFailed;
  error.manager.emit_message = JpegQuiet;
  // Allocated before the jump point: nothing below it needs freeing on a
  // jump but the decoder and the file.
  std::unique_ptr<Shrinker> shrinker;
  std::vector<uint8_t> row;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return Fail("JPEG could not be decoded");
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()),
               static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  // Let the decoder drop detail it would only average away: the largest
  // of 1/2, 1/4, 1/8 that still leaves the thumbnail's size.
  info.scale_num = 1;
  info.scale_denom = 1;
  while (info.scale_denom < 8 && info.image_width / (info.scale_denom * 2) >= kThumbnailWidth &&
         info.image_height / (info.scale_denom * 2) >= kThumbnailHeight) {
    info.scale_denom *= 2;
  }
  jpeg_start_decompress(&info);
  const int channels = info.output_components;
  shrinker = std::make_unique<Shrinker>(static_cast<int>(info.output_width),
                                        static_cast<int>(info.output_height), channels,
                                        kThumbnailWidth, kThumbnailHeight);
  row.resize(static_cast<size_t>(info.output_width) * static_cast<size_t>(channels));
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[1] = {row.data()};
    const int y = static_cast<int>(info.output_scanline);
    if (jpeg_read_scanlines(&info, rows, 1) != 1) break;
    shrinker->AddRow(y, row.data());
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return Done(shrinker->Finish());
}

ThumbnailResult FromPdf(const std::string& path) {
  std::unique_ptr<poppler::document> document(poppler::document::load_from_file(path));
  if (!document || document->is_locked() || document->pages() < 1) return Fail("not a readable PDF");
  std::unique_ptr<poppler::page> page(document->create_page(0));
  if (!page) return Fail("the PDF has no first page");
  const poppler::rectf box = page->page_rect();
  if (box.width() <= 0 || box.height() <= 0) return Fail("the PDF page has no size");
  // The resolution that makes the page about twice the thumbnail's size.
  const double dpi = std::min(2.0 * kThumbnailWidth * 72.0 / box.width(),
                              2.0 * kThumbnailHeight * 72.0 / box.height());
  poppler::page_renderer renderer;
  renderer.set_image_format(poppler::image::format_argb32);
  const poppler::image image = renderer.render_page(page.get(), dpi, dpi);
  const int width = image.width(), height = image.height();
  if (!image.is_valid() || image.format() != poppler::image::format_argb32 || width <= 0 ||
      height <= 0 || image.bytes_per_row() < width * 4) {
    return Fail("the PDF page could not be drawn");
  }
  Shrinker shrinker(width, height, 3, kThumbnailWidth, kThumbnailHeight);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    // argb32 rows hold 32-bit pixels 0xAARRGGBB in the machine's order.
    const uint8_t* source = reinterpret_cast<const uint8_t*>(image.const_data()) +
                            static_cast<size_t>(y) * static_cast<size_t>(image.bytes_per_row());
    for (int x = 0; x < width; ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, source + x * 4, 4);
      row[static_cast<size_t>(x) * 3] = static_cast<uint8_t>(pixel >> 16);
      row[static_cast<size_t>(x) * 3 + 1] = static_cast<uint8_t>(pixel >> 8);
      row[static_cast<size_t>(x) * 3 + 2] = static_cast<uint8_t>(pixel);
    }
    shrinker.AddRow(y, row.data());
  }
  return Done(shrinker.Finish(), document->pages());
}

}  // namespace

ThumbnailResult MakeThumbnail(Env& env, const std::string& path) {
  SilenceDecoders();
  std::unique_ptr<ReadableFile> file;
  unsigned char magic[4] = {};
  size_t got = 0;
  if (!env.OpenReadable(path, &file).ok() || !file->ReadAt(0, magic, sizeof magic, &got).ok()) {
    return Fail("the file cannot be opened");
  }
  file.reset();
  if (got == 4 && ((magic[0] == 'I' && magic[1] == 'I' && magic[2] == 42 && magic[3] == 0) ||
                   (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && magic[3] == 42))) {
    return FromTiff(path);
  }
  if (got >= 2 && magic[0] == 0xFF && magic[1] == 0xD8) return FromJpeg(env, path);
  if (got == 4 && magic[0] == '%' && magic[1] == 'P' && magic[2] == 'D' && magic[3] == 'F') {
    return FromPdf(path);
  }
  return Fail("no thumbnail for this kind of file");
}

}  // namespace qb
