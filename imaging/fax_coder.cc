#include "imaging/fax_coder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "imaging/fax_tables.h"
#include "imaging/image_header.h"

namespace qb {
namespace {

// ---- bit output -----------------------------------------------------------

uint8_t ReverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Writes what the out buffer holds with one write.
void FlushOutBuffer(FaxCoderState& c) {
  if (c.outFill == 0) return;
  if (c.packedOutput == 0) {
    for (uint32_t i = 0; i < c.outFill; ++i) c.outBuffer[i] = ReverseBits(c.outBuffer[i]);
  }
  size_t written = 0;
  if (c.output != nullptr) written = c.output->Write(c.outBuffer.data(), c.outFill);
  if (written != c.outFill) c.writeFailed = 1;
  c.bytesWritten += static_cast<uint32_t>(written);
  c.outFill = 0;
}

void PutByte(FaxCoderState& c, uint8_t byte) {
  c.outBuffer[c.outFill++] = byte;
  if (c.outFill == kFaxOutBufferSize) FlushOutBuffer(c);
}

// Longest run whose codes (make-up and terminating) come from one table
// entry.
constexpr uint32_t kTableRunMax = 2560;

// The make-up and terminating codes of every run up to kTableRunMax as one
// bit string each (at most 13 + 12 bits), so a run costs one lookup.
struct RunTable {
  uint32_t bits[2][kTableRunMax + 1];
  uint8_t length[2][kTableRunMax + 1];
  RunTable() {
    for (int black = 0; black < 2; ++black) {
      for (uint32_t run = 0; run <= kTableRunMax; ++run) {
        FaxCode makeUp{0, 0};
        if (run >= 1792) {
          makeUp = kExtendedMakeUp[run / 64 - 28];
        } else if (run >= 64) {
          makeUp = black ? kBlackMakeUp[run / 64 - 1] : kWhiteMakeUp[run / 64 - 1];
        }
        const FaxCode end = black ? kBlackTerminating[run % 64] : kWhiteTerminating[run % 64];
        bits[black][run] = makeUp.bits | static_cast<uint32_t>(end.bits) << makeUp.length;
        length[black][run] = static_cast<uint8_t>(makeUp.length + end.length);
      }
    }
  }
};

const RunTable& Runs() {
  static const RunTable table;
  return table;
}

// The code bits of a line on their way to the out buffer. The pending bits
// live in locals while a line is coded (the compiler keeps them in
// registers: stores into the byte buffer could otherwise change any field
// of the state as far as it knows) and go back to the state when the sink
// goes. Whole 32-bit words move to the out buffer once 32 bits are pending,
// so most codes cost one OR and one add.
class BitSink {
 public:
  explicit BitSink(FaxCoderState& c)
      : c_(c), buffer_(c.bitBuffer), count_(c.bitCount), coded_(c.bitsCoded),
        plain_(c.plainCoding), runs_(Runs()) {}
  ~BitSink() {
    c_.bitBuffer = buffer_;
    c_.bitCount = count_;
    c_.bitsCoded = coded_;
  }
  BitSink(const BitSink&) = delete;
  BitSink& operator=(const BitSink&) = delete;

  // `length` (at most 32) bits, the first in bit 0 of `bits`.
  void Put(uint32_t bits, uint32_t length) {
    buffer_ |= static_cast<uint64_t>(bits) << count_;
    count_ += length;
    coded_ += length;
    if (count_ >= 32) Spill();
  }
  void Put(FaxCode code) { Put(code.bits, code.length); }

  // One run as make-up and terminating codes.
  void PutRun(uint32_t run, bool black) {
    if (plain_) return PutRunPlain(run, black);
    while (run > kTableRunMax) {
      Put(kExtendedMakeUp[kTableRunMax / 64 - 28]);
      run -= kTableRunMax;
    }
    Put(runs_.bits[black][run], runs_.length[black][run]);
  }

  // `count` V0 codes (a single 1 bit each) at once.
  void PutOnes(uint32_t count) {
    while (count >= 32) {
      Put(0xFFFFFFFFu, 32);
      count -= 32;
    }
    if (count > 0) Put((1u << count) - 1, count);
  }

  void PutZeros(uint64_t count) {
    while (count > 0) {
      uint32_t now = static_cast<uint32_t>(std::min<uint64_t>(count, 16));
      Put(0, now);
      count -= now;
    }
  }

  // Pads the pending bits with 0 bits to whole bytes and moves them out.
  void FlushBits() {
    while (count_ > 0) {
      PutByte(c_, static_cast<uint8_t>(buffer_));
      buffer_ >>= 8;
      count_ = count_ >= 8 ? count_ - 8 : 0;
    }
    buffer_ = 0;
  }

  uint64_t Coded() const { return coded_; }
  uint32_t PendingBits() const { return count_; }

 private:
  void Spill() {
    if (c_.outFill + 4 < kFaxOutBufferSize) {
      uint32_t word = static_cast<uint32_t>(buffer_);
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&c_.outBuffer[c_.outFill], &word, 4);
      } else {
        for (int i = 0; i < 4; ++i)
          c_.outBuffer[c_.outFill + i] = static_cast<uint8_t>(word >> (8 * i));
      }
      c_.outFill += 4;
    } else {
      for (int i = 0; i < 4; ++i) PutByte(c_, static_cast<uint8_t>(buffer_ >> (8 * i)));
    }
    buffer_ >>= 32;
    count_ -= 32;
  }

  // The run the long way: the oracle for the table.
  void PutRunPlain(uint32_t run, bool black) {
    while (run > 1791) {
      uint32_t step = std::min<uint32_t>(run, 2560) / 64 * 64;
      Put(kExtendedMakeUp[step / 64 - 28]);
      run -= step;
    }
    if (run >= 64) {
      Put(black ? kBlackMakeUp[run / 64 - 1] : kWhiteMakeUp[run / 64 - 1]);
      run %= 64;
    }
    Put(black ? kBlackTerminating[run] : kWhiteTerminating[run]);
  }

  FaxCoderState& c_;
  uint64_t buffer_;
  uint32_t count_;
  uint64_t coded_;
  const bool plain_;
  const RunTable& runs_;
};

// ---- run extraction -------------------------------------------------------

// Finds the changing elements of one line: positions where the colour
// differs from the pixel before (the pixel before the first is white).
// Pixels are taken 64 at a time, normalised so that black is 1; a word whose
// pixels all have the current colour is skipped whole. kMsbFirst keeps the
// first pixel in bit 63 (bytes swapped in), otherwise in bit 0. The plain
// way: one step per change, following the colour.
template <bool kMsbFirst>
int ExtractChangesPlain(const uint8_t* line, int bytes, bool bitOneIsWhite, uint16_t* changes) {
  int count = 0;
  int position = 0;
  uint64_t colour = 0;  // 0 white, ~0 black
  const uint64_t invert = bitOneIsWhite ? ~uint64_t{0} : 0;
  auto scan = [&](uint64_t word, int bits) {
    word ^= invert;
    for (;;) {
      uint64_t differing = word ^ colour;
      int skip = differing == 0
                     ? 64
                     : (kMsbFirst ? std::countl_zero(differing) : std::countr_zero(differing));
      if (skip >= bits) {
        position += bits;
        return;
      }
      position += skip;
      changes[count++] = static_cast<uint16_t>(position);
      colour = ~colour;
      word = kMsbFirst ? word << skip : word >> skip;
      bits -= skip;
    }
  };
  int offset = 0;
  for (; offset + 8 <= bytes; offset += 8) {
    uint64_t word;
    std::memcpy(&word, line + offset, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    if (kMsbFirst) word = __builtin_bswap64(word);
    if ((word ^ invert) == colour) {
      position += 64;
      continue;
    }
    scan(word, 64);
  }
  if (offset < bytes) {
    uint64_t word = 0;
    for (int i = 0; offset + i < bytes; ++i) {
      uint64_t byte = line[offset + i];
      word |= kMsbFirst ? byte << (56 - 8 * i) : byte << (8 * i);
    }
    scan(word, 8 * (bytes - offset));
  }
  return count;
}

// The same, from a mask of transitions: each word is XORed with itself
// moved by one pixel (the last pixel of the word before carried in), so
// every set bit is a change and a change costs one bit scan.
template <bool kMsbFirst>
int ExtractChanges(const uint8_t* line, int bytes, bool bitOneIsWhite, uint16_t* changes) {
  int count = 0;
  const uint64_t invert = bitOneIsWhite ? ~uint64_t{0} : 0;
  uint64_t carry = 0;  // the pixel before the word, 1 = black, in the word's first-pixel place
  auto scan = [&](uint64_t word, int base, int bits) {
    word ^= invert;
    uint64_t transitions;
    if constexpr (kMsbFirst) {
      transitions = word ^ (word >> 1 | carry << 63);
      carry = word & 1;
      if (bits < 64) transitions &= ~uint64_t{0} << (64 - bits);
      while (transitions != 0) {
        const int at = std::countl_zero(transitions);
        changes[count++] = static_cast<uint16_t>(base + at);
        transitions &= ~(uint64_t{1} << (63 - at));
      }
    } else {
      transitions = word ^ (word << 1 | carry);
      carry = word >> 63;
      if (bits < 64) transitions &= ~uint64_t{0} >> (64 - bits);
      while (transitions != 0) {
        changes[count++] = static_cast<uint16_t>(base + std::countr_zero(transitions));
        transitions &= transitions - 1;
      }
    }
  };
  int offset = 0;
  for (; offset + 8 <= bytes; offset += 8) {
    uint64_t word;
    std::memcpy(&word, line + offset, 8);
    // A word all of the colour the line is in has no change; such a word
    // reads the same in any byte order, so it is tested before the swap.
    if ((word ^ invert) == (carry != 0 ? ~uint64_t{0} : 0)) continue;
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    if (kMsbFirst) word = __builtin_bswap64(word);
    scan(word, offset * 8, 64);
  }
  if (offset < bytes) {
    uint64_t word = 0;
    for (int i = 0; offset + i < bytes; ++i) {
      uint64_t byte = line[offset + i];
      word |= kMsbFirst ? byte << (56 - 8 * i) : byte << (8 * i);
    }
    scan(word, offset * 8, 8 * (bytes - offset));
  }
  return count;
}

// ---- line coding ----------------------------------------------------------

void CodeOneDimensional(const FaxCoderState& c, BitSink& out) {
  const uint16_t* changes = c.codingChanges.data();
  const int count = c.codingCount;
  uint32_t start = 0;
  for (int i = 0; i <= count; ++i) {
    uint32_t end = changes[i];  // changes[codingCount] is the width sentinel
    out.PutRun(end - start, (i & 1) != 0);
    start = end;
  }
}

// The coding procedure of T.4 4.2.1.3 over changing-element lists. The
// index of a1 in the coding list also gives a0's colour (even = white),
// because colours alternate from white on every line.
void CodeTwoDimensional(const FaxCoderState& c, BitSink& out) {
  const uint16_t* cur = c.codingChanges.data();
  const uint16_t* ref = c.referenceChanges.data();
  const int width = c.width;
  const int count = c.codingCount;
  const bool fast = !c.plainCoding;
  int a0 = -1;
  int ia = 0;  // index of a1
  int ib = 0;  // search start for b1
  while (a0 < width) {
    // b1: first element right of a0 whose colour is opposite to a0's, i.e.
    // whose index has the parity of ia. A vertical step may have moved a0
    // left of the previous b1, so the search may go back.
    while (ib > 0 && ref[ib - 1] > a0) --ib;
    // (a0 < width here, so the sentinels, at the width, end this search.)
    while (ref[ib] <= a0) ++ib;
    if ((ib & 1) != (ia & 1)) ++ib;
    if (fast && ref[ib] == cur[ia]) {
      // a1 = b1, and so on while both lines change at the same places: a
      // V0 code each, found four at a time. The coding line's first
      // sentinel ends the run (a0 reaches the width there).
      const int most = count + 1 - ia;
      int same = 0;
      while (same + 4 <= most) {
        uint64_t mine, theirs;
        std::memcpy(&mine, cur + ia + same, 8);
        std::memcpy(&theirs, ref + ib + same, 8);
        const uint64_t differing = mine ^ theirs;
        if (differing != 0) {
          if constexpr (std::endian::native == std::endian::little) {
            same += std::countr_zero(differing) / 16;
          } else {
            same += std::countl_zero(differing) / 16;
          }
          break;
        }
        same += 4;
      }
      while (same < most && cur[ia + same] == ref[ib + same]) ++same;
      same = std::min(same, most);
      out.PutOnes(static_cast<uint32_t>(same));
      ia += same;
      ib += same;
      a0 = cur[ia - 1];
      continue;
    }
    const int b1 = ref[ib];
    const int b2 = ref[ib + 1];
    const int a1 = cur[ia];
    if (b2 < a1) {
      out.Put(kPassCode);
      a0 = b2;
      continue;
    }
    const int delta = a1 - b1;
    if (delta >= -3 && delta <= 3) {
      out.Put(kVerticalCodes[delta + 3]);
      a0 = a1;
      ++ia;
      continue;
    }
    const int a2 = cur[ia + 1];
    const bool black = (ia & 1) != 0;
    out.Put(kHorizontalCode);
    out.PutRun(static_cast<uint32_t>(a1 - std::max(a0, 0)), black);
    out.PutRun(static_cast<uint32_t>(a2 - a1), !black);
    a0 = a2;
    ia += 2;
  }
}

void PutEol(const FaxCoderState& c, BitSink& out) {
  out.Put(kEolCode);
  if (c.k != 1) out.Put(c.lineInGroup == 0 ? 1 : 0, 1);
}

// Fills codingChanges (and codingCount) with the line's changing elements
// and the sentinels.
void FindChanges(FaxCoderState& c, const uint8_t* line) {
  const int pixelsFromInput = c.bytesPerLine * 8;
  uint16_t* changes = c.codingChanges.data();
  const bool bitOneIsWhite = c.whiteValue == 0;
  int count;
  if (c.plainCoding) {
    count = c.lsbFirstInput ? ExtractChangesPlain<false>(line, c.bytesPerLine, bitOneIsWhite, changes)
                            : ExtractChangesPlain<true>(line, c.bytesPerLine, bitOneIsWhite, changes);
  } else {
    count = c.lsbFirstInput ? ExtractChanges<false>(line, c.bytesPerLine, bitOneIsWhite, changes)
                            : ExtractChanges<true>(line, c.bytesPerLine, bitOneIsWhite, changes);
  }
  // Pixels past the last whole byte never arrive; they are coded white so
  // that every line still holds the width the TIFF directory announces.
  if (pixelsFromInput < c.width && (count & 1) != 0) {
    changes[count++] = static_cast<uint16_t>(pixelsFromInput);
  }
  for (int i = 0; i < 3; ++i) changes[count + i] = static_cast<uint16_t>(c.width);
  c.codingCount = count;
}

void CodeOneLine(FaxCoderState& c, const uint8_t* line) {
  const bool twoDimensional = c.lineInGroup != 0 || c.codingMode == kFaxModeMMR;
  if (twoDimensional && c.lineInGroup == 0) {
    // The first line of an MMR page, or of an MR group, refers to an
    // imaginary white line.
    c.referenceCount = 0;
    for (int i = 0; i < 3; ++i) c.referenceChanges[i] = static_cast<uint16_t>(c.width);
    c.previousCount = 0;
    c.previousInReference = true;
    std::fill(c.previousLine.begin(), c.previousLine.end(), c.whiteValue == 1 ? 0x00 : 0xFF);
  }
  // A line equal to the one before has its changes: no search. Coded
  // two-dimensionally against that line, every change is a V0.
  const bool same = !c.plainCoding &&
                    std::memcmp(line, c.previousLine.data(), c.previousLine.size()) == 0;
  if (same) {
    if (c.previousInReference) {
      std::memcpy(c.codingChanges.data(), c.referenceChanges.data(),
                  (static_cast<size_t>(c.previousCount) + 3) * sizeof(uint16_t));
    }
    c.codingCount = c.previousCount;
  } else {
    FindChanges(c, line);
    if (!c.plainCoding) std::memcpy(c.previousLine.data(), line, c.previousLine.size());
  }

  {
    BitSink out(c);
    const uint64_t lineStart = out.Coded();
    if (c.codingMode != kFaxModeMMR) PutEol(c, out);
    if (!twoDimensional) {
      CodeOneDimensional(c, out);
    } else if (same) {
      out.PutOnes(static_cast<uint32_t>(c.codingCount) + 1);
    } else {
      CodeTwoDimensional(c, out);
    }
    const uint64_t lineBits = out.Coded() - lineStart;
    if (lineBits < static_cast<uint64_t>(std::max(c.minimumBits, 0))) {
      out.PutZeros(static_cast<uint64_t>(c.minimumBits) - lineBits);
    }
    if (c.eolAlign && (out.PendingBits() % 8) != 0) out.Put(0, 8 - out.PendingBits() % 8);
  }

  c.lineInGroup = c.k == 0 ? 1 : static_cast<uint16_t>((c.lineInGroup + 1) % c.k);
  c.previousCount = c.codingCount;
  c.previousInReference = c.lineInGroup != 0;
  if (c.lineInGroup != 0) {
    // Swapping keeps both arrays allocated; the old reference is overwritten
    // by the next line's extraction.
    c.referenceChanges.swap(c.codingChanges);
    c.referenceCount = c.codingCount;
  }
  c.codingCount = 0;
  ++c.totalLines;
}

int CodePageEnd(FaxCoderState& c) {
  {
    BitSink out(c);
    if (c.codingMode == kFaxModeMMR) {
      out.Put(kEolCode);
      out.Put(kEolCode);
    } else {
      for (int i = 0; i < 6; ++i) {
        out.Put(kEolCode);
        if (c.codingMode == kFaxModeMR) out.Put(1, 1);
      }
    }
    out.FlushBits();
  }
  FlushOutBuffer(c);
  return c.writeFailed ? -1 : 0;
}

// Fills every field from the page layout, keeping the buffers. The page
// file stays as it is: the caller points the coder at it.
void LoadFromLayout(FaxCoderState& c, const PageLayout& page) {
  c.width = page.width;
  c.height = page.height;
  c.bytesPerLine = c.width / 8;
  c.k = 0;
  c.minimumBits = 0;
  c.codingMode = kFaxModeMMR;
  c.eolAlign = 0;
  c.lsbFirstInput = (page.pixelPacking & 1) == 0 ? 1 : 0;
  c.packedOutput = 1;
  c.whiteValue = page.polarity == 0 ? 1 : 0;
  c.resolution = page.Dpi();
  c.referenceCount = c.codingCount = 0;
  c.lineInGroup = 0;
  c.outFill = 0;
  c.bitBuffer = 0;
  c.bitCount = 0;
  c.bitsCoded = 0;
  c.bytesWritten = 0;
  c.totalLines = 0;
  c.writeFailed = 0;
  // Room for a change at every pixel plus the three sentinels; grows only
  // when a page is wider than any before it on this job.
  // (Eight: the V0 runs read the lists four entries at a time.)
  const size_t entries = static_cast<size_t>(c.width) + 8;
  if (c.codingChanges.size() < entries) c.codingChanges.resize(entries);
  if (c.referenceChanges.size() < entries) c.referenceChanges.resize(entries);
  std::fill(c.codingChanges.begin(), c.codingChanges.end(), 0);
  std::fill(c.referenceChanges.begin(), c.referenceChanges.end(), 0);
  if (c.outBuffer.size() != kFaxOutBufferSize) c.outBuffer.assign(kFaxOutBufferSize, 0);
  // Before the first line: a white line, none of whose changes are known.
  c.previousLine.assign(static_cast<size_t>(c.bytesPerLine), c.whiteValue == 1 ? 0x00 : 0xFF);
  c.previousCount = 0;
  c.previousInReference = true;
  c.referenceChanges[0] = c.referenceChanges[1] = c.referenceChanges[2] =
      static_cast<uint16_t>(c.width);
}

}  // namespace

bool FaxCoder::SetUp(const PageLayout& page) {
  if (page.width == 0 || page.height == 0) return false;
  LoadFromLayout(state_, page);
  return true;
}

void FaxCoder::Reset(const PageLayout& page) { LoadFromLayout(state_, page); }

// Settles the mode's parameters; false for an unknown mode or a coder never
// set up.
bool FaxCoder::ReadyForCall() {
  FaxCoderState& c = state_;
  switch (c.codingMode) {
    case kFaxModeMH:
      c.k = 1;
      break;
    case kFaxModeMR:
      break;
    case kFaxModeMMR:
      c.k = 0;
      c.eolAlign = 0;
      c.minimumBits = 0;
      break;
    default:
      return false;
  }
  return c.outBuffer.size() == kFaxOutBufferSize && c.codingChanges.size() >= size_t(c.width) + 4 &&
         c.referenceChanges.size() >= size_t(c.width) + 4;
}

int FaxCoder::CodeLine(const uint8_t* line) {
  if (!ReadyForCall() || line == nullptr) return -1;
  CodeOneLine(state_, line);
  return state_.writeFailed ? -1 : 1;
}

int FaxCoder::FinishPage() {
  if (!ReadyForCall()) return -1;
  return CodePageEnd(state_);
}

}  // namespace qb
