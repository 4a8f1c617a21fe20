// The fax coder's fast paths against its plain way: any page (width, mode,
// input and output bit order, polarity, lines that repeat the one before or
// are white, black or anything) must code to the same bytes every way: the
// fast way with the newer processors' 512-bit or 256-bit vector
// instructions (given the page's lines in one call), with their bit-count
// ones only and with neither, and the plain way.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/fax_coder.h"
#include "imaging/fax_coder_steps.h"

namespace {

struct Page {
  qb::PageLayout layout;
  int mode = 3;
  bool lsbFirstOutput = true;
  std::vector<std::vector<uint8_t>> lines;
  std::vector<bool> plainLine;  // in the mixed run: this line the plain way
};

Page PageOf(const uint8_t* data, size_t size) {
  Page page;
  if (size < 3) return page;
  page.mode = 1 + data[0] % 3;
  page.layout.pixelPacking = (data[0] >> 2) & 1;
  page.layout.polarity = (data[0] >> 3) & 1;
  page.lsbFirstOutput = ((data[0] >> 4) & 1) == 0;
  page.layout.width = static_cast<uint16_t>(1 + (data[1] | data[2] << 8) % 2600);
  page.layout.height = 1;
  const size_t stride = page.layout.width / 8;
  size_t at = 3;
  std::vector<uint8_t> previous(stride, 0);
  while (at < size && page.lines.size() < 200) {
    const uint8_t control = data[at++];
    std::vector<uint8_t> line(stride, page.layout.polarity != 0 ? 0xFF : 0x00);
    if (control % 8 == 0) {
      line = previous;
    } else if (control % 8 == 1) {
      // white, as set
    } else if (control % 8 == 5) {
      std::fill(line.begin(), line.end(), page.layout.polarity != 0 ? 0x00 : 0xFF);  // black
    } else if (control % 8 == 2 && !previous.empty()) {
      line = previous;
      line[data[at % size] % stride] ^= static_cast<uint8_t>(1u << (control >> 5));
    } else {
      for (size_t i = 0; i < stride && at < size; ++i) line[i] = data[at++];
    }
    page.lines.push_back(line);
    page.plainLine.push_back((control & 0x10) != 0);
    previous = line;
  }
  return page;
}

enum class Way { kPlain, kFast, kFastAvx512, kFastAvx2, kFastWide, kFastPortable, kMixed };

qb::CoderInstructions MostFor(Way way) {
  switch (way) {
    case Way::kFastAvx512:
      return qb::CoderInstructions::kAvx512;
    case Way::kFastAvx2:
      return qb::CoderInstructions::kAvx2;
    case Way::kFastWide:
      return qb::CoderInstructions::kBitCount;
    case Way::kFastPortable:
      return qb::CoderInstructions::kAny;
    default:
      return qb::CoderInstructions::kAvx512Vbmi2;
  }
}

std::vector<uint8_t> Code(const Page& page, Way way) {
  const bool plain = way == Way::kPlain;
  qb::LimitCoderInstructions(MostFor(way));
  qb::FaxCoder coder;
  if (!coder.SetUp(page.layout)) return {};
  coder.SetCodingMode(page.mode);
  coder.SetPlainCoding(plain);
  coder.SetLsbFirstOutput(page.lsbFirstOutput);
  std::string coded;
  qb::PageFile file = qb::PageFile::InMemory(&coded);
  coder.WriteInto(&file);
  if (way == Way::kFast || way == Way::kFastAvx512 || way == Way::kFastAvx2) {
    // The lines as a packet holds them: one after the other, one call.
    std::vector<uint8_t> packed;
    for (const std::vector<uint8_t>& line : page.lines)
      packed.insert(packed.end(), line.begin(), line.end());
    coder.CodeLines(packed.data(), page.lines.size());
  } else {
    for (size_t i = 0; i < page.lines.size(); ++i) {
      // Switching ways between lines must not change the code either.
      if (way == Way::kMixed) coder.SetPlainCoding(page.plainLine[i]);
      coder.CodeLine(page.lines[i].data());
    }
  }
  coder.FinishPage();
  if (coded.size() != coder.BytesWritten()) __builtin_trap();
  return std::vector<uint8_t>(coded.begin(), coded.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Page page = PageOf(data, size);
  if (page.lines.empty()) return 0;
  const std::vector<uint8_t> plain = Code(page, Way::kPlain);
  for (Way way : {Way::kFast, Way::kFastAvx512, Way::kFastAvx2, Way::kFastWide, Way::kFastPortable,
                  Way::kMixed}) {
    if (Code(page, way) != plain) __builtin_trap();
  }
  return 0;
}
