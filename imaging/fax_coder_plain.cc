// The plain way of coding a line: one step per change found and per code
// written, no line compare and no tables beyond the printed ones. It is
// slow on purpose and simple enough to read against the code tables; the
// fast way (fax_coder_fast.cc) is checked against it byte for byte.
#include <algorithm>
#include <bit>
#include <cstring>

#include "imaging/fax_coder_steps.h"
#include "imaging/fax_tables.h"

namespace qb {
namespace {

void PutByte(FaxCoderState& c, uint8_t byte) {
  c.outBuffer[c.outFill++] = byte;
  if (c.outFill == kFaxOutBufferSize) FlushOutBuffer(c);
}

// The code bits on their way to the out buffer: every whole byte moves
// there at once (the fast sink keeps the same rule, so the out buffer fills
// and flushes at the same points either way).
class PlainSink {
 public:
  explicit PlainSink(FaxCoderState& c)
      : c_(c), buffer_(c.bitBuffer), count_(c.bitCount), coded_(c.bitsCoded) {}
  ~PlainSink() {
    c_.bitBuffer = buffer_;
    c_.bitCount = count_;
    c_.bitsCoded = coded_;
  }
  PlainSink(const PlainSink&) = delete;
  PlainSink& operator=(const PlainSink&) = delete;

  // `length` (at most 32) bits, the first in bit 0 of `bits`.
  void Put(uint32_t bits, uint32_t length) {
    buffer_ |= static_cast<uint64_t>(bits) << count_;
    count_ += length;
    coded_ += length;
    if (count_ >= 8) Spill();
  }
  void Put(FaxCode code) { Put(code.bits, code.length); }

  // One run as make-up and terminating codes.
  void PutRun(uint32_t run, bool black) {
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
    for (; count_ >= 8; count_ -= 8) {
      PutByte(c_, static_cast<uint8_t>(buffer_));
      buffer_ >>= 8;
    }
  }

  FaxCoderState& c_;
  uint64_t buffer_;
  uint32_t count_;
  uint64_t coded_;
};

// Finds the changing elements of one line: positions where the colour
// differs from the pixel before (the pixel before the first is white).
// Pixels are taken 64 at a time, normalised so that black is 1, and
// followed one change at a time. kMsbFirst keeps the first pixel in bit 63
// (bytes swapped in), otherwise in bit 0.
template <bool kMsbFirst>
int ExtractChanges(const uint8_t* line, int bytes, bool bitOneIsWhite, uint16_t* changes) {
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
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) {
      const uint64_t byte = line[offset + i];
      word |= kMsbFirst ? byte << (56 - 8 * i) : byte << (8 * i);
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

void CodeOneDimensional(const FaxCoderState& c, PlainSink& out) {
  const uint16_t* changes = c.codingChanges.data();
  uint32_t start = 0;
  for (int i = 0; i <= c.codingCount; ++i) {
    uint32_t end = changes[i];  // changes[codingCount] is the width sentinel
    out.PutRun(end - start, (i & 1) != 0);
    start = end;
  }
}

// The two-dimensional coding procedure over changing-element lists. The
// index of a1 in the coding list also gives a0's colour (even = white),
// because colours alternate from white on every line.
void CodeTwoDimensional(const FaxCoderState& c, PlainSink& out) {
  const uint16_t* cur = c.codingChanges.data();
  const uint16_t* ref = c.referenceChanges.data();
  const int width = c.width;
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

void PutEol(const FaxCoderState& c, PlainSink& out) {
  out.Put(kEolCode);
  if (c.k != 1) out.Put(c.lineInGroup == 0 ? 1 : 0, 1);
}

// Fills codingChanges (and codingCount) with the line's changing elements
// and the sentinels.
void FindChanges(FaxCoderState& c, const uint8_t* line) {
  uint16_t* changes = c.codingChanges.data();
  const bool bitOneIsWhite = c.whiteValue == 0;
  int count = c.lsbFirstInput ? ExtractChanges<false>(line, c.bytesPerLine, bitOneIsWhite, changes)
                              : ExtractChanges<true>(line, c.bytesPerLine, bitOneIsWhite, changes);
  // Pixels past the last whole byte never arrive; they are coded white so
  // that every line still holds the width the TIFF directory announces.
  const int pixelsFromInput = c.bytesPerLine * 8;
  if (pixelsFromInput < c.width && (count & 1) != 0) {
    changes[count++] = static_cast<uint16_t>(pixelsFromInput);
  }
  for (int i = 0; i < 3; ++i) changes[count + i] = static_cast<uint16_t>(c.width);
  c.codingCount = count;
}

}  // namespace

void CodeLinePlain(FaxCoderState& c, const uint8_t* line) {
  const bool twoDimensional = c.lineInGroup != 0 || c.codingMode == kFaxModeMMR;
  if (twoDimensional && c.lineInGroup == 0) {
    // The first line of an MMR page, or of an MR group, refers to an
    // imaginary white line.
    c.referenceCount = 0;
    for (int i = 0; i < 3; ++i) c.referenceChanges[i] = static_cast<uint16_t>(c.width);
  }
  FindChanges(c, line);
  {
    PlainSink out(c);
    const uint64_t lineStart = out.Coded();
    if (c.codingMode != kFaxModeMMR) PutEol(c, out);
    if (twoDimensional) {
      CodeTwoDimensional(c, out);
    } else {
      CodeOneDimensional(c, out);
    }
    const uint64_t lineBits = out.Coded() - lineStart;
    if (lineBits < static_cast<uint64_t>(std::max(c.minimumBits, 0))) {
      out.PutZeros(static_cast<uint64_t>(c.minimumBits) - lineBits);
    }
    if (c.eolAlign && (out.PendingBits() % 8) != 0) out.Put(0, 8 - out.PendingBits() % 8);
  }

  c.lineInGroup = c.k == 0 ? 1 : static_cast<uint16_t>((c.lineInGroup + 1) % c.k);
  // The raw line was not kept: the fast way must not take the next line
  // for a repeat of it.
  c.previousKnown = false;
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

void CodePageEnd(FaxCoderState& c) {
  PlainSink out(c);
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

}  // namespace qb
