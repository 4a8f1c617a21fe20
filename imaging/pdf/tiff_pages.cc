#include "imaging/pdf/tiff_pages.h"

#include <set>

namespace qb {
namespace {

class TiffReader {
 public:
  explicit TiffReader(const ReadableFile& file) : file_(file), size_(file.Size()) {}

  bool ReadAt(uint64_t offset, void* buffer, size_t length) {
    if (offset > size_ || length > size_ - offset) return false;
    size_t got = 0;
    return file_.ReadAt(offset, buffer, length, &got) && got == length;
  }
  bool U16At(uint64_t offset, uint16_t* value) {
    uint8_t b[2];
    if (!ReadAt(offset, b, 2)) return false;
    *value = bigEndian_ ? static_cast<uint16_t>(b[0] << 8 | b[1])
                        : static_cast<uint16_t>(b[1] << 8 | b[0]);
    return true;
  }
  bool U32At(uint64_t offset, uint32_t* value) {
    uint8_t b[4];
    if (!ReadAt(offset, b, 4)) return false;
    *value = bigEndian_ ? (uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3])
                        : (uint32_t{b[3]} << 24 | b[2] << 16 | b[1] << 8 | b[0]);
    return true;
  }
  void SetBigEndian(bool bigEndian) { bigEndian_ = bigEndian; }
  uint64_t size() const { return size_; }

 private:
  const ReadableFile& file_;
  const uint64_t size_;
  bool bigEndian_ = false;
};

constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;

// A SHORT or LONG held in the entry itself (count 1).
bool InlineValue(TiffReader& reader, uint64_t entry, uint16_t type, uint32_t* value) {
  if (type == kTypeShort) {
    uint16_t shortValue;
    if (!reader.U16At(entry + 8, &shortValue)) return false;
    *value = shortValue;
    return true;
  }
  return type == kTypeLong && reader.U32At(entry + 8, value);
}

bool RationalAt(TiffReader& reader, uint64_t offset, double* value) {
  uint32_t numerator, denominator;
  if (!reader.U32At(offset, &numerator) || !reader.U32At(offset + 4, &denominator)) return false;
  if (numerator == 0 || denominator == 0) return false;
  *value = static_cast<double>(numerator) / denominator;
  return true;
}

bool ReadDirectory(TiffReader& reader, uint64_t directory, FaxTiffPage* page, uint32_t* next) {
  uint16_t count;
  if (!reader.U16At(directory, &count)) return false;
  uint16_t bitsPerSample = 1, samplesPerPixel = 1, resolutionUnit = 2;
  bool haveOffset = false, haveBytes = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = directory + 2 + 12ull * i;
    uint16_t tag, type;
    uint32_t valueCount, value = 0;
    if (!reader.U16At(entry, &tag) || !reader.U16At(entry + 2, &type) ||
        !reader.U32At(entry + 4, &valueCount)) {
      return false;
    }
    switch (tag) {
      case 0x0100:
      case 0x0101:
      case 0x0102:
      case 0x0103:
      case 0x0106:
      case 0x010A:
      case 0x0111:
      case 0x0115:
      case 0x0117:
      case 0x0124:
      case 0x0128:
        // One value each; several strips cannot be joined into one CCITT
        // image because every strip restarts its coding.
        if (valueCount != 1 || !InlineValue(reader, entry, type, &value)) return false;
        break;
      default:
        break;
    }
    switch (tag) {
      case 0x0100:
        page->width = value;
        break;
      case 0x0101:
        page->height = value;
        break;
      case 0x0102:
        bitsPerSample = static_cast<uint16_t>(value);
        break;
      case 0x0103:
        page->compression = static_cast<uint16_t>(value);
        break;
      case 0x0106:
        page->photometric = static_cast<uint16_t>(value);
        break;
      case 0x010A:
        page->fillOrder = static_cast<uint16_t>(value);
        break;
      case 0x0111:
        page->stripOffset = value;
        haveOffset = true;
        break;
      case 0x0115:
        samplesPerPixel = static_cast<uint16_t>(value);
        break;
      case 0x0117:
        page->stripBytes = value;
        haveBytes = true;
        break;
      case 0x0124:
        page->t4Options = value;
        break;
      case 0x0128:
        resolutionUnit = static_cast<uint16_t>(value);
        break;
      case 0x011A:
      case 0x011B: {
        uint32_t offset;
        if (!reader.U32At(entry + 8, &offset)) return false;
        double dpi;
        if (RationalAt(reader, offset, &dpi)) (tag == 0x011A ? page->xDpi : page->yDpi) = dpi;
        break;
      }
      default:
        break;
    }
  }
  if (resolutionUnit == 3) {  // per centimetre
    page->xDpi *= 2.54;
    page->yDpi *= 2.54;
  }
  if (!reader.U32At(directory + 2 + 12ull * count, next)) return false;
  const bool faxCoded = page->compression >= 2 && page->compression <= 4;
  return faxCoded && bitsPerSample == 1 && samplesPerPixel == 1 && page->width > 0 &&
         page->height > 0 && page->photometric <= 1 && haveOffset && haveBytes &&
         page->stripBytes > 0 && page->stripOffset <= reader.size() &&
         page->stripBytes <= reader.size() - page->stripOffset;
}

}  // namespace

bool ReadFaxTiffPages(const ReadableFile& file, std::vector<FaxTiffPage>* pages) {
  TiffReader reader(file);
  uint8_t order[2];
  if (!reader.ReadAt(0, order, 2)) return false;
  if (order[0] == 'M' && order[1] == 'M') {
    reader.SetBigEndian(true);
  } else if (order[0] != 'I' || order[1] != 'I') {
    return false;
  }
  uint16_t magic;
  uint32_t directory;
  if (!reader.U16At(2, &magic) || magic != 42 || !reader.U32At(4, &directory)) return false;
  std::set<uint32_t> seen;
  while (directory != 0) {
    if (pages->size() >= kMaxFaxTiffPages || !seen.insert(directory).second) return false;
    FaxTiffPage page;
    uint32_t next = 0;
    if (!ReadDirectory(reader, directory, &page, &next)) return false;
    pages->push_back(page);
    directory = next;
  }
  return !pages->empty();
}

}  // namespace qb
