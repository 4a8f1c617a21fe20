// The image header a printer sends before each page or file: its fixed
// fields, the format name and the document name, taken apart once with
// every offset and string checked against the bytes that really arrived.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/file_checks.h"
#include "imaging/image_header.h"

namespace qb {

// Longest format name admitted: the raw road names its files after
// "TIFF-G4MMR" (10 characters), so anything shorter would refuse it.
constexpr size_t kMaxFormatName = 10;
// A document name must be shorter than this.
constexpr size_t kMaxDocumentName = 256;

constexpr uint16_t kDataFormRaw = 0;

struct ImageHeader {
  // The first 84 bytes in host order, zero-filled. Kept as bytes because a
  // raw page's temporary file starts with exactly these, and the TIFF
  // writer reads the page layout back from there.
  uint8_t record[kImageHeaderSize] = {};
  uint16_t dataForm = 0;
  uint16_t formatNameOffset = 0;  // 0 on the file road's headers
  uint32_t dataLength = 0;
  PageLayout layout;  // resolution, width, height, pixel packing, polarity
  uint16_t continuation = 0;
  uint16_t documentNameOffset = 0;
  char formatName[kMaxFormatName + 1] = {};
  char documentName[kMaxDocumentName] = {};
  bool valid = false;  // both strings lie inside the message and are short enough
};

// Takes apart the `length` body bytes of an image header. The fields are
// converted to host order in the copy only; `body` is left as it is.
// A body shorter than the fixed fields, a string offset beyond 84, a
// string without its NUL inside the received bytes, or a string too long
// make the header invalid.
void ParseImageHeader(const uint8_t* body, size_t length, ImageHeader* header);

}  // namespace qb
