#include "storage/bounded_text.h"

#include <cstring>

#include "platform/codepage.h"

namespace qb {

std::string TextAt(const uint8_t* block, size_t size, size_t offset, size_t limit) {
  if (block == nullptr || offset == 0 || offset >= size) return "";
  size_t available = size - offset;
  size_t most = available < limit ? available : limit;
  const char* start = reinterpret_cast<const char*>(block + offset);
  const void* nul = std::memchr(start, '\0', most);
  size_t length = nul == nullptr ? most : static_cast<const char*>(nul) - start;
  return std::string(start, length);
}

std::string FixedText(const char* buffer, size_t size) {
  const void* nul = std::memchr(buffer, '\0', size);
  size_t length = nul == nullptr ? size : static_cast<const char*>(nul) - buffer;
  return std::string(buffer, length);
}

std::string CutToBytes(std::string_view text, size_t maxBytes) {
  size_t end = 0;
  while (end < text.size()) {
    size_t width = IsDoubleByteLead(static_cast<unsigned char>(text[end])) ? 2 : 1;
    if (end + width > maxBytes || end + width > text.size()) break;
    end += width;
  }
  return std::string(text.substr(0, end));
}

uint16_t BigEndian16At(const uint8_t* block, size_t size, size_t offset) {
  if (block == nullptr || offset + 2 > size) return 0;
  return static_cast<uint16_t>((block[offset] << 8) | block[offset + 1]);
}

void CopyToBuffer(std::string_view text, char* buffer, size_t size) {
  if (size == 0) return;
  size_t length = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

}  // namespace qb
