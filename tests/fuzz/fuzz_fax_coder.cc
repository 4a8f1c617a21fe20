// The fax coder's fast paths against its plain way: any page (width, mode,
// bit order, polarity, lines that repeat the one before or are white or
// anything) must code to the same bytes both ways.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/fax_coder.h"

namespace {

struct Page {
  qb::PageLayout layout;
  int mode = 3;
  std::vector<std::vector<uint8_t>> lines;
};

Page PageOf(const uint8_t* data, size_t size) {
  Page page;
  if (size < 3) return page;
  page.mode = 1 + data[0] % 3;
  page.layout.pixelPacking = (data[0] >> 2) & 1;
  page.layout.polarity = (data[0] >> 3) & 1;
  page.layout.width = static_cast<uint16_t>(1 + (data[1] | data[2] << 8) % 2600);
  page.layout.height = 1;
  const size_t stride = page.layout.width / 8;
  size_t at = 3;
  std::vector<uint8_t> previous(stride, 0);
  while (at < size && page.lines.size() < 200) {
    const uint8_t control = data[at++];
    std::vector<uint8_t> line(stride, page.layout.polarity != 0 ? 0xFF : 0x00);
    if (control % 4 == 0) {
      line = previous;
    } else if (control % 4 == 1) {
      // white, as set
    } else if (control % 4 == 2 && !previous.empty()) {
      line = previous;
      line[data[at % size] % stride] ^= static_cast<uint8_t>(1u << (control >> 5));
    } else {
      for (size_t i = 0; i < stride && at < size; ++i) line[i] = data[at++];
    }
    page.lines.push_back(line);
    previous = line;
  }
  return page;
}

std::vector<uint8_t> Code(const Page& page, bool plain) {
  qb::FaxCoder coder;
  if (!coder.SetUp(page.layout)) return {};
  coder.SetCodingMode(page.mode);
  coder.SetPlainCoding(plain);
  std::string coded;
  qb::PageFile file = qb::PageFile::InMemory(&coded);
  coder.WriteInto(&file);
  for (const std::vector<uint8_t>& line : page.lines) coder.CodeLine(line.data());
  coder.FinishPage();
  if (coded.size() != coder.BytesWritten()) __builtin_trap();
  return std::vector<uint8_t>(coded.begin(), coded.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Page page = PageOf(data, size);
  if (page.lines.empty()) return 0;
  if (Code(page, false) != Code(page, true)) __builtin_trap();
  return 0;
}
