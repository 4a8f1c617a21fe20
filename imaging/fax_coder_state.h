// State of the fax run-length coder, one per scan job: the private part of
// FaxCoder (imaging/fax_coder.h), in a header of its own so that the coding
// steps in fax_coder.cc can be plain functions over it.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/page_file.h"

namespace qb {

// Coding modes of ITU-T T.4 / T.6.
enum FaxCodingMode : int32_t {
  kFaxModeMH = 1,   // one-dimensional modified Huffman (T.4)
  kFaxModeMR = 2,   // two-dimensional modified READ (T.4)
  kFaxModeMMR = 3,  // modified modified READ (T.6)
};

constexpr size_t kFaxOutBufferSize = 32768;
// Bytes past the out buffer's end: the fast sink stores its whole 64-bit
// bit buffer at the fill point after every code, a word that may reach 7
// bytes beyond the buffer's last.
constexpr size_t kFaxOutBufferSlack = 8;

// Entries each changing-element list has past the width: the sentinels,
// the junk the change search writes past the last change, and the 35
// elements past a reference element that the vector coding reads at once.
constexpr size_t kFaxChangesSlack = 48;

struct FaxCoderState {
  int32_t bytesPerLine = 0;  // width / 8: only whole bytes come from the printer
  int32_t height = 0;
  int32_t k = 0;  // MR group length; 1 for MH, 0 for MMR
  int32_t width = 0;
  int32_t minimumBits = 0;  // minimum coded bits per line, 0 = no fill
  int32_t codingMode = kFaxModeMMR;
  int32_t eolAlign = 0;       // pad each line to a byte boundary
  int32_t lsbFirstInput = 0;  // 1: the first pixel of a byte is bit 0
  int32_t packedOutput = 1;   // 1: bytes go out as packed (LSB first); 0: bit-reversed
  int32_t whiteValue = 1;     // 1: bit value 0 is white; 0: bit value 1 is white
  int32_t resolution = 200;   // dpi

  // Changing-element positions of the reference line and of the line being
  // coded, each followed by sentinels at `width`. Sized once per job.
  std::vector<uint16_t> referenceChanges;
  std::vector<uint16_t> codingChanges;
  int32_t referenceCount = 0;  // changing elements before the sentinels
  int32_t codingCount = 0;
  uint16_t lineInGroup = 0;  // 0: the next line is coded one-dimensionally

  // The raw bytes of the line before, so that a line equal to it (most
  // lines of a page: white space, table rules) is coded without finding
  // its changes again; where that line's changes are now: swapped into
  // referenceChanges, or still in codingChanges.
  std::vector<uint8_t> previousLine;
  int32_t previousCount = 0;
  bool previousInReference = true;
  bool previousKnown = true;  // false after a line coded the plain way (not kept)
  // Every line the long way (no line compare, no word-wide change search,
  // no run of V0 codes at once): the oracle the fast paths are checked
  // against.
  bool plainCoding = false;

  PageFile* output = nullptr;      // not owned
  // kFaxOutBufferSize bytes and the slack, sized once per job.
  std::vector<uint8_t> outBuffer;
  uint32_t outFill = 0;
  uint64_t bitBuffer = 0;  // pending code bits, first bit in bit 0
  uint32_t bitCount = 0;   // bits pending in bitBuffer, fewer than 8
  uint64_t bitsCoded = 0;  // bits produced on the page, for the minimum-bits fill
  uint32_t bytesWritten = 0;
  uint16_t totalLines = 0;
  int32_t writeFailed = 0;  // a flush wrote fewer bytes than it held
};

}  // namespace qb
