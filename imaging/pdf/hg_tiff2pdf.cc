#include "imaging/pdf/hg_tiff2pdf.h"

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imaging/pdf/tiff_pages.h"

namespace qb {
namespace {

// Writes PDF objects and remembers where each starts for the
// cross-reference table.
class PdfWriter {
 public:
  explicit PdfWriter(WritableFile& out) : out_(out) {}

  void Text(const std::string& text) { Bytes(text.data(), text.size()); }
  void Bytes(const void* data, size_t length) {
    if (length > 0 && !failed_ && !out_.Append(data, length)) failed_ = true;
    position_ += length;
  }
  void BeginObject(size_t number) {
    if (offsets_.size() < number + 1) offsets_.resize(number + 1, 0);
    offsets_[number] = position_;
    Text(std::to_string(number) + " 0 obj\n");
  }
  void EndObject() { Text("endobj\n"); }

  void Finish() {
    const uint64_t xref = position_;
    char line[64];
    Text("xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n");
    for (size_t i = 1; i < offsets_.size(); ++i) {
      std::snprintf(line, sizeof line, "%010" PRIu64 " 00000 n \n", offsets_[i]);
      Text(line);
    }
    Text("trailer\n<< /Size " + std::to_string(offsets_.size()) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n");
  }
  bool failed() const { return failed_; }

 private:
  WritableFile& out_;
  uint64_t position_ = 0;
  std::vector<uint64_t> offsets_{0};
  bool failed_ = false;
};

// Points with four decimals, written without the locale's decimal mark.
// Renderers compute pixels = points * dpi / 72 in binary floating point, in
// varying order; a decimal such as 622.08 (1728 pixels at 200 dpi) can land
// a hair above the pixel count and make them resample the whole image.
// Writing the size 0.0001 pt short keeps every such computation just below
// the pixel count, so pages stay pixel-exact at their own resolution.
std::string Points(uint32_t pixels, double dpi) {
  long long tenThousandths = static_cast<long long>(pixels * 72.0 / dpi * 10000.0 + 0.5) - 1;
  if (tenThousandths < 1) tenThousandths = 1;
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%04lld", tenThousandths / 10000, tenThousandths % 10000);
  return text;
}

uint8_t ReverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

std::string DecodeParms(const FaxTiffPage& page) {
  std::string k = "-1";  // T.6
  std::string extra;
  if (page.compression == 3) k = (page.t4Options & 1) ? "1" : "0";
  if (page.compression == 2) {
    k = "0";
    extra = " /EncodedByteAlign true /EndOfBlock false";
  }
  // Fax codes always start a line white; a TIFF whose 0 bits are black
  // (photometric 1) needs the decoded bits turned around to show the same.
  if (page.photometric == 1) extra += " /BlackIs1 true";
  return "<< /K " + k + " /Columns " + std::to_string(page.width) + " /Rows " +
         std::to_string(page.height) + extra + " >>";
}

int WritePdf(const ReadableFile& tiff, const std::vector<FaxTiffPage>& pages, WritableFile& out) {
  PdfWriter pdf(out);
  pdf.Text("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  pdf.BeginObject(1);
  pdf.Text("<< /Type /Catalog /Pages 2 0 R >>\n");
  pdf.EndObject();
  pdf.BeginObject(2);
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i) kids += std::to_string(3 + 3 * i) + " 0 R ";
  pdf.Text("<< /Type /Pages /Count " + std::to_string(pages.size()) + " /Kids [ " + kids +
           "] >>\n");
  pdf.EndObject();
  std::vector<uint8_t> strip;
  for (size_t i = 0; i < pages.size(); ++i) {
    const FaxTiffPage& page = pages[i];
    const size_t pageObject = 3 + 3 * i;
    const std::string width = Points(page.width, page.xDpi);
    const std::string height = Points(page.height, page.yDpi);
    pdf.BeginObject(pageObject);
    pdf.Text("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + width + " " + height +
             "] /Resources << /XObject << /Im0 " + std::to_string(pageObject + 2) +
             " 0 R >> >> /Contents " + std::to_string(pageObject + 1) + " 0 R >>\n");
    pdf.EndObject();
    const std::string content = "q " + width + " 0 0 " + height + " 0 0 cm /Im0 Do Q\n";
    pdf.BeginObject(pageObject + 1);
    pdf.Text("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
             "endstream\n");
    pdf.EndObject();

    strip.resize(page.stripBytes);
    size_t got = 0;
    if (!tiff.ReadAt(page.stripOffset, strip.data(), strip.size(), &got) || got != strip.size()) {
      return kTiff2PdfBadTiff;
    }
    // PDF reads CCITT data most significant bit first.
    if (page.fillOrder == 2) {
      for (uint8_t& b : strip) b = ReverseBits(b);
    }
    pdf.BeginObject(pageObject + 2);
    pdf.Text("<< /Type /XObject /Subtype /Image /Width " + std::to_string(page.width) +
             " /Height " + std::to_string(page.height) +
             " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode /DecodeParms " +
             DecodeParms(page) + " /Length " + std::to_string(strip.size()) + " >>\nstream\n");
    pdf.Bytes(strip.data(), strip.size());
    pdf.Text("\nendstream\n");
    pdf.EndObject();
    if (pdf.failed()) return kTiff2PdfWriteFailed;
  }
  pdf.Finish();
  return pdf.failed() ? kTiff2PdfWriteFailed : kTiff2PdfOk;
}

}  // namespace

int hgTiff2Pdf(const char* tiffPath, const char* pdfPath, int, int, int, Env& env) {
  if (tiffPath == nullptr || pdfPath == nullptr) return kTiff2PdfBadTiff;
  std::unique_ptr<ReadableFile> tiff;
  if (!env.OpenReadable(tiffPath, &tiff)) return kTiff2PdfBadTiff;
  std::vector<FaxTiffPage> pages;
  if (!ReadFaxTiffPages(*tiff, &pages)) return kTiff2PdfBadTiff;
  // Written beside the target and renamed at the end, so that a reader never
  // sees a half-written PDF and a failure leaves nothing behind.
  const std::string partPath = std::string(pdfPath) + ".part";
  std::unique_ptr<WritableFile> out;
  if (!env.NewWritableFile(partPath, CreateMode::kTruncate, &out)) return kTiff2PdfWriteFailed;
  int result = WritePdf(*tiff, pages, *out);
  if (!out->Close() && result == kTiff2PdfOk) result = kTiff2PdfWriteFailed;
  if (result == kTiff2PdfOk && !env.Rename(partPath, pdfPath)) result = kTiff2PdfWriteFailed;
  if (result != kTiff2PdfOk) env.Remove(partPath);
  return result;
}

}  // namespace qb
