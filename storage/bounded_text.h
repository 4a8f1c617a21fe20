// Reading texts out of byte blocks that came from the network or from
// fixed buffers, never past their end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qb {

// The NUL-terminated text at `offset` of a block of `size` bytes, cut to at
// most `limit` bytes and at the block's end. Offset 0 means absent and, like
// an offset outside the block, gives "".
std::string TextAt(const uint8_t* block, size_t size, size_t offset, size_t limit);

// The text of a fixed character buffer: up to its NUL or its end.
std::string FixedText(const char* buffer, size_t size);

// At most `maxBytes` bytes of `text`; a double-byte character (code page
// 932) that would straddle the cut is left out whole.
std::string CutToBytes(std::string_view text, size_t maxBytes);

// A big-endian 16-bit value at `offset`, or 0 when it lies outside the block.
uint16_t BigEndian16At(const uint8_t* block, size_t size, size_t offset);

// Copies `text` into a fixed buffer, cut to size - 1 bytes, NUL-terminated.
void CopyToBuffer(std::string_view text, char* buffer, size_t size);

}  // namespace qb
