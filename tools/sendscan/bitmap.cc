#include "tools/sendscan/bitmap.h"

#include <cctype>
#include <string>

#include "platform/env.h"

namespace qb::sendscan {
namespace {

// Netpbm header tokens: whitespace and "#" comments separate them.
class TokenReader {
 public:
  explicit TokenReader(const std::string& data) : data_(data) {}

  bool Number(long* value) {
    SkipSpace();
    if (pos_ >= data_.size() || !std::isdigit(static_cast<unsigned char>(data_[pos_]))) {
      return false;
    }
    *value = 0;
    while (pos_ < data_.size() && std::isdigit(static_cast<unsigned char>(data_[pos_]))) {
      *value = *value * 10 + (data_[pos_++] - '0');
      if (*value > 1000000) return false;
    }
    return true;
  }
  // Plain PBM lets "0" and "1" follow each other without spaces.
  bool Bit(int* bit) {
    SkipSpace();
    if (pos_ >= data_.size() || (data_[pos_] != '0' && data_[pos_] != '1')) return false;
    *bit = data_[pos_++] - '0';
    return true;
  }
  // The single whitespace byte after the header of a binary file.
  size_t RasterStart() const { return pos_ + 1; }

 private:
  void SkipSpace() {
    while (pos_ < data_.size()) {
      if (data_[pos_] == '#') {
        while (pos_ < data_.size() && data_[pos_] != '\n') ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(data_[pos_]))) {
        ++pos_;
      } else {
        return;
      }
    }
  }

  const std::string& data_;
  size_t pos_ = 2;  // after the magic number
};

bool Fail(std::string* error, const std::string& path, const std::string& why) {
  *error = path + ": " + why;
  return false;
}

}  // namespace

bool ReadNetpbm(const std::string& path, Bitmap* bitmap, std::string* error) {
  std::string data;
  if (!ReadWholeFile(Env::Default(), path, &data).ok()) return Fail(error, path, "cannot open");
  if (data.size() < 2 || data[0] != 'P' || data[1] < '1' || data[1] > '5' || data[1] == '3') {
    return Fail(error, path, "not a PBM or PGM file");
  }
  char kind = data[1];
  TokenReader reader(data);
  long width = 0, height = 0, maxValue = 1;
  if (!reader.Number(&width) || !reader.Number(&height) || width < 1 || height < 1 ||
      width > 65535 || height > 65535) {
    return Fail(error, path, "bad size");
  }
  bool gray = kind == '2' || kind == '5';
  if (gray && (!reader.Number(&maxValue) || maxValue < 1 || maxValue > 65535)) {
    return Fail(error, path, "bad maximum value");
  }
  bitmap->width = static_cast<int>(width);
  bitmap->height = static_cast<int>(height);
  bitmap->bits.assign(bitmap->Stride() * static_cast<size_t>(height), 0);
  size_t raster = reader.RasterStart();
  size_t sampleBytes = maxValue > 255 ? 2 : 1;
  for (int y = 0; y < bitmap->height; ++y) {
    for (int x = 0; x < bitmap->width; ++x) {
      bool black = false;
      if (kind == '1') {
        int bit = 0;
        if (!reader.Bit(&bit)) return Fail(error, path, "raster too short");
        black = bit == 1;
      } else if (kind == '4') {
        size_t at = raster + static_cast<size_t>(y) * bitmap->Stride() + static_cast<size_t>(x) / 8;
        if (at >= data.size()) return Fail(error, path, "raster too short");
        black = (static_cast<uint8_t>(data[at]) >> (7 - x % 8)) & 1;
      } else {
        long value = 0;
        if (kind == '2') {
          if (!reader.Number(&value)) return Fail(error, path, "raster too short");
        } else {
          size_t at = raster + (static_cast<size_t>(y) * bitmap->width + x) * sampleBytes;
          if (at + sampleBytes > data.size()) return Fail(error, path, "raster too short");
          value = static_cast<uint8_t>(data[at]);
          if (sampleBytes == 2) value = value << 8 | static_cast<uint8_t>(data[at + 1]);
        }
        black = value * 2 < maxValue;
      }
      if (black) bitmap->SetBlack(x, y);
    }
  }
  return true;
}

bool WritePbm(const std::string& path, const Bitmap& bitmap) {
  std::string content =
      "P4\n" + std::to_string(bitmap.width) + " " + std::to_string(bitmap.height) + "\n";
  content.append(bitmap.bits.begin(), bitmap.bits.end());
  return WriteWholeFile(Env::Default(), path, content, false).ok();
}

Bitmap TestPage(int width, int height, int page) {
  Bitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.bits.assign(bitmap.Stride() * static_cast<size_t>(height), 0);
  const int border = 8;
  for (int y = 0; y < height; ++y) {
    int diagonal = static_cast<int>(static_cast<long>(y) * width / height);
    for (int x = 0; x < width; ++x) {
      bool black = x < border || y < border || x >= width - border || y >= height - border;
      black = black || (x >= diagonal - 2 && x <= diagonal + 2);
      if (y >= 4 * border && y < 12 * border) {
        int bar = x / (3 * border);
        black = black || (bar % 2 == 1 && bar / 2 <= page);
      } else if ((y / 32) % 2 == 0) {
        black = black || (x + 3 * y + 37 * page) % (61 + y % 89) < 7 + (y / 32) % 41;
      }
      if (black) bitmap.SetBlack(x, y);
    }
  }
  return bitmap;
}

}  // namespace qb::sendscan
