#include "web/picture.h"

#include <png.h>

#include <algorithm>

namespace qb {

Shrinker::Shrinker(int sourceWidth, int sourceHeight, int channels, int maxWidth, int maxHeight)
    : sourceWidth_(std::max(sourceWidth, 1)), sourceHeight_(std::max(sourceHeight, 1)),
      channels_(channels) {
  // The scale that fits both sides, in exact integer arithmetic.
  const int64_t byWidth = static_cast<int64_t>(maxWidth) * sourceHeight_;
  const int64_t byHeight = static_cast<int64_t>(maxHeight) * sourceWidth_;
  if (sourceWidth_ <= maxWidth && sourceHeight_ <= maxHeight) {
    width_ = sourceWidth_;
    height_ = sourceHeight_;
  } else if (byWidth <= byHeight) {
    width_ = maxWidth;
    height_ = static_cast<int>(std::max<int64_t>(1, byWidth / sourceWidth_));
  } else {
    height_ = maxHeight;
    width_ = static_cast<int>(std::max<int64_t>(1, byHeight / sourceHeight_));
  }
  sums_.assign(static_cast<size_t>(width_) * height_ * channels_, 0);
  counts_.assign(static_cast<size_t>(width_) * height_, 0);
  columnOf_.resize(static_cast<size_t>(sourceWidth_));
  for (int x = 0; x < sourceWidth_; ++x) {
    columnOf_[static_cast<size_t>(x)] = static_cast<int>(static_cast<int64_t>(x) * width_ / sourceWidth_);
  }
}

void Shrinker::AddRow(int y, const uint8_t* row) {
  if (y < 0 || y >= sourceHeight_) return;
  const int targetRow = static_cast<int>(static_cast<int64_t>(y) * height_ / sourceHeight_);
  uint32_t* sums = &sums_[static_cast<size_t>(targetRow) * width_ * channels_];
  uint32_t* counts = &counts_[static_cast<size_t>(targetRow) * width_];
  for (int x = 0; x < sourceWidth_; ++x) {
    const int column = columnOf_[static_cast<size_t>(x)];
    for (int c = 0; c < channels_; ++c) sums[column * channels_ + c] += row[x * channels_ + c];
    ++counts[column];
  }
}

Picture Shrinker::Finish() {
  Picture picture;
  picture.width = width_;
  picture.height = height_;
  picture.channels = channels_;
  picture.samples.resize(sums_.size());
  for (size_t pixel = 0; pixel < counts_.size(); ++pixel) {
    const uint32_t count = counts_[pixel];
    for (int c = 0; c < channels_; ++c) {
      const size_t at = pixel * static_cast<size_t>(channels_) + static_cast<size_t>(c);
      picture.samples[at] = count == 0 ? 255 : static_cast<uint8_t>(sums_[at] / count);
    }
  }
  return picture;
}

namespace {

void AppendToString(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void NoFlush(png_structp) {}

}  // namespace

std::string EncodePng(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.samples.size() != static_cast<size_t>(picture.width) * picture.height * picture.channels) {
    return {};
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return {};
  png_infop info = png_create_info_struct(png);
  std::string out;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return {};
  }
  png_set_write_fn(png, &out, AppendToString, NoFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
               static_cast<png_uint_32>(picture.height), 8,
               picture.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t stride = static_cast<size_t>(picture.width) * picture.channels;
  for (int y = 0; y < picture.height; ++y) {
    png_write_row(png, const_cast<png_bytep>(&picture.samples[static_cast<size_t>(y) * stride]));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace qb
