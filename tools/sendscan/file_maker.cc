#include "tools/sendscan/file_maker.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

#include "imaging/fax_coder.h"
#include "imaging/file_checks.h"
#include "imaging/tiff_layout.h"
#include "platform/env.h"

namespace qb::sendscan {
namespace {

// Codes one page with T.6. `lsbFirst` packs the first bit of the code into
// bit 0 of each byte (TIFF FillOrder 2); PDF wants it in bit 7.
bool CodePage(const Bitmap& page, bool lsbFirst, std::vector<uint8_t>* code) {
  if (page.width <= 0 || page.height <= 0 || page.width > 65535) return false;
  std::string coded;
  PageFile scratch = PageFile::InMemory(&coded);
  PageLayout layout;
  layout.width = static_cast<uint16_t>(page.width);
  // The coder reads the height only to refuse a page of none.
  layout.height = static_cast<uint16_t>(std::min(page.height, 65535));
  layout.pixelPacking = 1;  // PBM: first pixel in the most significant bit
  layout.polarity = 0;      // PBM: 1 is black
  FaxCoder coder;           // MMR, and whole bytes of a line only, as from a printer
  if (!coder.SetUp(layout)) return false;
  coder.SetLsbFirstOutput(lsbFirst);
  coder.WriteInto(&scratch);
  for (int y = 0; y < page.height; ++y) {
    if (coder.CodeLine(page.Row(y)) < 0) return false;
  }
  if (coder.FinishPage() < 0) return false;
  code->assign(coded.begin(), coded.end());
  return code->size() == coder.BytesWritten();
}

// Writes through a ".part" file renamed at the end, so that a failure leaves
// nothing at `path`.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path) : path_(path), part_(path + ".part") {
    if (!env_.NewWritableFile(part_, CreateMode::kTruncate, &file_).ok()) file_.reset();
  }
  ~OutputFile() {
    if (file_ != nullptr) {
      file_.reset();
      env_.Remove(part_);
    }
  }
  bool ok() const { return file_ != nullptr && !failed_; }
  void Write(const void* data, size_t length) {
    if (file_ == nullptr || (length > 0 && !file_->Append(data, length).ok())) failed_ = true;
    position_ += length;
  }
  void Text(const std::string& text) { Write(text.data(), text.size()); }
  uint64_t position() const { return position_; }
  bool Finish() {
    if (file_ == nullptr) return false;
    const bool closed = file_->Close().ok();
    file_.reset();
    if (failed_ || !closed || !env_.Rename(part_, path_).ok()) {
      env_.Remove(part_);
      return false;
    }
    return true;
  }

 private:
  Env& env_ = Env::Default();
  std::string path_;
  std::string part_;
  std::unique_ptr<WritableFile> file_;
  uint64_t position_ = 0;
  bool failed_ = false;
};

// The page size in points, written 0.0001 pt short: renderers that compute
// points * dpi / 72 in binary floating point then stay just below the pixel
// count instead of a hair above it, and show the page pixel for pixel.
std::string Points(int pixels, int dpi) {
  long long tenThousandths = std::llround(pixels * 72.0 / dpi * 10000.0) - 1;
  if (tenThousandths < 1) tenThousandths = 1;
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%04lld", tenThousandths / 10000, tenThousandths % 10000);
  return text;
}

std::string PdfDate() {
  std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "D:%Y%m%d%H%M%S", std::localtime(&now));
  return text;
}

}  // namespace

bool WriteFaxTiff(const std::string& path, const std::vector<Bitmap>& pages, int dpi,
                  std::string* error) {
  OutputFile out(path);
  if (!out.ok()) {
    *error = "cannot create " + path;
    return false;
  }
  const uint8_t header[8] = {'I', 'I', 42, 0, 8, 0, 0, 0};
  out.Write(header, sizeof header);
  uint32_t directoryOffset = 8;
  std::vector<uint8_t> code;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (!CodePage(pages[i], true, &code)) {
      *error = "cannot code page " + std::to_string(i + 1);
      return false;
    }
    TiffPageInfo info;
    info.width = static_cast<uint32_t>(pages[i].width);
    info.height = static_cast<uint32_t>(pages[i].height);
    info.dpi = static_cast<uint32_t>(dpi);
    info.dataSize = static_cast<uint32_t>(code.size());
    info.pageNumber = static_cast<uint16_t>(i);
    uint8_t block[kTiffDirectoryBlockSize];
    directoryOffset = BuildTiffDirectory(info, directoryOffset, i + 1 < pages.size(), block);
    out.Write(block, sizeof block);
    out.Write(code.data(), code.size());
  }
  if (!out.Finish()) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool WritePrinterPdf(const std::string& path, const std::vector<Bitmap>& pages, int dpi,
                     std::string* error) {
  OutputFile out(path);
  if (!out.ok()) {
    *error = "cannot create " + path;
    return false;
  }
  // Objects: 1 catalog, 2 information, 3 page tree, then per page its
  // image, contents and page object. The information object comes last,
  // right before the cross-reference table, where the receiver looks for it.
  const size_t objectCount = 4 + 3 * pages.size();
  std::vector<uint64_t> offsets(objectCount, 0);
  auto begin = [&](size_t number) {
    offsets[number] = out.position();
    out.Text(std::to_string(number) + " 0 obj\n");
  };
  out.Text("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  begin(1);
  out.Text("<< /Type /Catalog /Pages 3 0 R >>\nendobj\n");
  std::vector<uint8_t> code;
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i) {
    const Bitmap& page = pages[i];
    const size_t image = 4 + 3 * i, contents = image + 1, pageObject = image + 2;
    if (!CodePage(page, false, &code)) {
      *error = "cannot code page " + std::to_string(i + 1);
      return false;
    }
    const std::string width = std::to_string(page.width), height = std::to_string(page.height);
    begin(image);
    out.Text("<< /Type /XObject /Subtype /Image /Width " + width + " /Height " + height +
             " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode\n"
             "/DecodeParms << /K -1 /Columns " +
             width + " /Rows " + height + " >> /Length " + std::to_string(code.size()) +
             " >>\nstream\n");
    out.Write(code.data(), code.size());
    out.Text("\nendstream\nendobj\n");
    const std::string w = Points(page.width, dpi), h = Points(page.height, dpi);
    const std::string draw = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q\n";
    begin(contents);
    out.Text("<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw +
             "endstream\nendobj\n");
    begin(pageObject);
    out.Text("<< /Type /Page /Parent 3 0 R /MediaBox [0 0 " + w + " " + h + "]\n/Resources " +
             "<< /XObject << /Im0 " + std::to_string(image) + " 0 R >> >> /Contents " +
             std::to_string(contents) + " 0 R >>\nendobj\n");
    kids += std::to_string(pageObject) + " 0 R\n";
  }
  begin(3);
  out.Text("<< /Type /Pages /Count " + std::to_string(pages.size()) + " /Kids [\n" + kids +
           "] >>\nendobj\n");
  begin(2);
  out.Text("<<\n/CreationDate (" + PdfDate() + ")\n/Producer (quillbox-sendscan)\n>>\nendobj\n");
  const uint64_t xref = out.position();
  out.Text("xref\n0 " + std::to_string(objectCount) + "\n0000000000 65535 f \n");
  char line[32];
  for (size_t i = 1; i < objectCount; ++i) {
    std::snprintf(line, sizeof line, "%010" PRIu64 " 00000 n \n", offsets[i]);
    out.Text(line);
  }
  out.Text("trailer\n<< /Size " + std::to_string(objectCount) +
           " /Root 1 0 R /Info 2 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n");
  if (!out.Finish()) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

std::string PreCheckFile(const std::string& path, int dataForm, bool deferredNotify) {
  std::unique_ptr<ReadableFile> file;
  if (!Env::Default().OpenReadable(path, &file)) return "cannot be read";
  int result = kCheckPassed;
  switch (dataForm) {
    case 1:
      result = CheckTiffFile(*file, deferredNotify);
      break;
    case 4:
      result = CheckJpegFile(*file, deferredNotify);
      break;
    case 5:
      result = CheckPdfFile(*file, deferredNotify);
      break;
    default:
      return "is not a .tif, .jpg or .pdf file";
  }
  switch (result) {
    case kCheckPassed:
      return "";
    case kTiffReadError:
      return "this TIFF is cut short or its first directory lies outside the file";
    case kTiffFormatError:
      return std::string(
                 "this is not a TIFF whose first page has a resolution of 100, 200, 300, "
                 "400 or 600 dpi") +
             (deferredNotify ? " (or 1200, 2400)" : "");
    case kJpegReadError:
      return "this JPEG is cut short or its X density is not 100, 200, 300, 400 or 600 dpi";
    case kJpegFormatError:
      return "this JPEG does not begin with a JFIF header as printers write it, or its Y "
             "density is not one they use";
    case kPdfReadError:
      return "this PDF has no cross-reference table where its last 150 bytes point";
    default:
      return "this PDF's layout is not one that printers write";
  }
}

}  // namespace qb::sendscan
