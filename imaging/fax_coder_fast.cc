// The fast way of coding a line. What it saves, in the order it matters on
// office pages:
// - a line equal to the one before (white space, table rules, thick
//   strokes) is found with one compare and coded from the changes already
//   known; in MMR it is a run of V0 codes, one per change, put at once, and
//   the reference line stays where it is;
// - in the two-dimensional coding, runs of V0 codes (a text line looks
//   much like the one above it) are found four changes at a time, passes
//   in a row are coded in one tight loop, and the search for b1 only moves
//   forward;
// - the changes of a line are found from a mask of transitions, 64 pixels
//   at a time, four positions per round, while the line is kept for the
//   next compare in the same pass;
// - where the processor has AVX-512, the change search takes 512 pixels a
//   step and stretches of vertical codes are found 32 changes at a time,
//   going on over a pass or a stroke of the line above that this line
//   covers (fax_coder_vector.h); where it has AVX2 only, stretches of
//   vertical codes are found 16 changes at a time (fax_coder_avx2.h);
// - codes go into a 64-bit bit buffer that is stored whole after every
//   code, with no test of how full it is (a test that text, whose codes
//   follow no pattern, would mispredict), and keeps fewer than 8 bits, so
//   that a code of up to 56 bits goes in with one put; a run is one table
//   load, and a white run with the black one after it (MH), the horizontal
//   mode's code with its two runs, or eight vertical codes of a vector
//   step go in as one code, so that the chain of puts through the bit
//   buffer is short.
// Tried and dropped, being slower here: choosing pass and vertical codes
// without jumps, and finding the next b1 by counting rather than by a loop
// (both put every step behind the loads of the one before).
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#include "imaging/fax_coder_avx2.h"
#include "imaging/fax_coder_steps.h"
#include "imaging/fax_coder_vector.h"
#include "imaging/fax_tables.h"

namespace qb {
namespace {

#define QB_INLINE [[gnu::always_inline]] inline

// The vector steps a build of the fast way adds to the word-at-a-time
// ones: none, AVX2's, AVX-512's, or AVX-512's with VBMI2's search for
// changes.
enum class VectorSteps { kNone, kAvx2, kAvx512, kAvx512Vbmi2 };

// Whether the build's steps are the 512-bit ones.
constexpr bool IsAvx512(VectorSteps steps) {
  return steps == VectorSteps::kAvx512 || steps == VectorSteps::kAvx512Vbmi2;
}

QB_INLINE uint64_t LoadWord(const uint8_t* at) {
  uint64_t word;
  std::memcpy(&word, at, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Writes the full out buffer and moves the `fill` - kFaxOutBufferSize bytes
// past it (at most 7) to its start; returns the new fill. Not a member of
// FastSink, and never inlined: the sink's address never leaves the coding
// loop, so its bit buffer and fill point stay in registers.
[[gnu::noinline]] uint32_t FlushFull(FaxCoderState& c, uint32_t fill) {
  const uint32_t over = fill - static_cast<uint32_t>(kFaxOutBufferSize);
  c.outFill = static_cast<uint32_t>(kFaxOutBufferSize);
  FlushOutBuffer(c);
  std::memmove(c.outBuffer.data(), c.outBuffer.data() + kFaxOutBufferSize, over);
  return over;
}

// The pending bits, first bit in bit 0, with the out buffer's fill point in
// locals while a line is coded. Whole bytes count as moved out as soon as
// they are complete, as in the plain sink, so the out buffer fills and is
// written at the same points either way.
class FastSink {
 public:
  explicit FastSink(FaxCoderState& c)
      : c_(c), out_(c.outBuffer.data()), buffer_(c.bitBuffer), count_(c.bitCount),
        fill_(c.outFill), start_(Coded()), runs_(Runs()) {}
  ~FastSink() {
    c_.bitBuffer = buffer_;
    c_.bitCount = count_;
    c_.outFill = fill_;
    c_.bitsCoded += Coded() - start_;
  }
  FastSink(const FastSink&) = delete;
  FastSink& operator=(const FastSink&) = delete;

  // `length` (at most 56) bits, the first in bit 0 of `bits`. Fewer than 8
  // bits are pending before, so fewer than 64 after; the whole bytes among
  // them are stored and move out.
  QB_INLINE void Put(uint64_t bits, uint32_t length) {
    buffer_ |= bits << count_;
    count_ += length;
    uint64_t word = buffer_;
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    std::memcpy(out_ + fill_, &word, 8);
    fill_ += count_ >> 3;
    buffer_ >>= count_ & 56;
    count_ &= 7;
    if (fill_ >= kFaxOutBufferSize) Flush();
  }
  QB_INLINE void Put(FaxCode code) { Put(code.bits, code.length); }

  // Up to 64 bits (a vector step's eight codes): one put where they fit.
  QB_INLINE void PutLong(uint64_t bits, uint32_t length) {
    if (length > 56) [[unlikely]] {
      Put(bits & 0xFFFFFFFFu, 32);
      bits >>= 32;
      length -= 32;
    }
    Put(bits, length);
  }

  // Two white runs, each with the black run after it: one put where all
  // four are in the table and take at most 56 bits (the short runs of
  // text), else a pair at a time.
  QB_INLINE void PutRunPairs(uint32_t white, uint32_t black, uint32_t white2, uint32_t black2) {
    if (std::max(std::max(white, black), std::max(white2, black2)) <= kTableRunMax) [[likely]] {
      const BitString first = RunPair(white, black, 0, 0);
      const BitString both = RunPair(white2, black2, 0, first.length);
      if (both.length <= 56) [[likely]] {
        Put(first.bits | both.bits, both.length);
        return;
      }
    }
    constexpr FaxCode kNothing{0, 0};
    PutRuns(kNothing, white, black, 0);
    PutRuns(kNothing, white2, black2, 0);
  }

  // One run as make-up and terminating codes.
  QB_INLINE void PutRun(uint32_t run, uint32_t black) {
    while (run > kTableRunMax) [[unlikely]] {
      Put(kExtendedMakeUp[kTableRunMax / 64 - 28]);
      run -= kTableRunMax;
    }
    const uint32_t entry = runs_.entry[black][run];
    Put(entry & ((1u << RunTable::kLengthShift) - 1), entry >> RunTable::kLengthShift);
  }

  // `prefix` (a mode code, or nothing), then a run of colour `black` and
  // one of the other colour: one put where both runs are in the table (at
  // most 3 + 25 + 25 bits), else one code after the other.
  QB_INLINE void PutRuns(FaxCode prefix, uint32_t first, uint32_t second, uint32_t black) {
    if (first <= kTableRunMax && second <= kTableRunMax) [[likely]] {
      const BitString runs = RunPair(first, second, black, prefix.length);
      Put(prefix.bits | runs.bits, runs.length);
      return;
    }
    Put(prefix);
    PutRun(first, black);
    PutRun(second, black ^ 1);
  }

  // `count` V0 codes (a single 1 bit each).
  QB_INLINE void PutOnes(uint32_t count) {
    for (; count >= 32; count -= 32) Put(0xFFFFFFFFu, 32);
    if (count > 0) Put((1u << count) - 1, count);
  }

  QB_INLINE void PutZeros(uint64_t count) {
    for (; count >= 32; count -= 32) Put(0, 32);
    if (count > 0) Put(0, static_cast<uint32_t>(count));
  }

  // Bits produced so far, counted from an arbitrary start.
  uint64_t Coded() const { return (flushed_ + fill_) * 8 + count_; }
  uint32_t PendingBits() const { return count_; }

 private:
  // Bits from bit `at` on, and where they end.
  struct BitString {
    uint64_t bits;
    uint32_t length;
  };

  // The codes of a run of colour `black` and of one of the other colour
  // after it, both in the table, placed from bit `at` on.
  QB_INLINE BitString RunPair(uint32_t first, uint32_t second, uint32_t black, uint32_t at) const {
    constexpr uint32_t kBits = (1u << RunTable::kLengthShift) - 1;
    const uint32_t one = runs_.entry[black][first];
    const uint32_t two = runs_.entry[black ^ 1][second];
    const uint32_t twoAt = at + (one >> RunTable::kLengthShift);
    return {uint64_t{one & kBits} << at | uint64_t{two & kBits} << twoAt,
            twoAt + (two >> RunTable::kLengthShift)};
  }

  QB_INLINE void Flush() {
    fill_ = FlushFull(c_, fill_);
    flushed_ += kFaxOutBufferSize;
  }

  FaxCoderState& c_;
  uint8_t* const out_;
  uint64_t buffer_;
  uint32_t count_;
  uint32_t fill_;
  uint64_t flushed_ = 0;  // out-buffer bytes written while the sink is here
  const uint64_t start_;
  const RunTable& runs_;
};

// Four changing elements as one word, the first in the low bits.
QB_INLINE uint64_t LoadEntries(const uint16_t* at) {
  uint64_t word;
  std::memcpy(&word, at, 8);
  if constexpr (std::endian::native == std::endian::big) {
    word = (word >> 48) | (word >> 16 & 0xFFFF0000u) | (word << 16 & 0xFFFF00000000u) | word << 48;
  }
  return word;
}

// The positions of the set bits of `transitions` (first pixel in bit 63 if
// kMsbFirst, else in bit 0), plus `base`, appended at `out`. Four per round
// whatever is left: up to three entries past the last are written with
// junk, which the lists have room for and which the next entries or the
// sentinels overwrite.
template <bool kMsbFirst>
QB_INLINE uint16_t* PutPositions(uint64_t transitions, int base, uint16_t* out) {
  uint16_t* const end = out + std::popcount(transitions);
  do {
    for (int i = 0; i < 4; ++i) {
      if constexpr (kMsbFirst) {
        const int at = std::countl_zero(transitions);
        out[i] = static_cast<uint16_t>(base + at);
        transitions &= ~((uint64_t{1} << 63) >> (at & 63));
      } else {
        out[i] = static_cast<uint16_t>(base + std::countr_zero(transitions));
        transitions &= transitions - 1;
      }
    }
    out += 4;
  } while (out < end);
  return end;
}

// Finds the changing elements of a line (positions where the colour differs
// from the pixel before; the pixel before the first is white) and copies
// the line's bytes to `keep` on the way. Each word is XORed with itself
// moved by one pixel, the last pixel of the word before carried in, so
// every set bit is a change.
// Returns the end of the changes written from `out` on.
template <bool kMsbFirst>
QB_INLINE uint16_t* FindChangesKeeping(const uint8_t* line, uint8_t* keep, int bytes,
                                       uint64_t invert, uint16_t* out) {
  uint64_t colour = 0;  // every bit the colour of the last pixel so far, 1 = black
  auto scan = [&](uint64_t word, int base, int bits) {
    uint64_t transitions;
    if constexpr (kMsbFirst) {
      transitions = word ^ (word >> 1 | colour << 63);
      colour = uint64_t{0} - (word & 1);
      if (bits < 64) transitions &= ~uint64_t{0} << (64 - bits);
    } else {
      transitions = word ^ (word << 1 | colour >> 63);
      colour = uint64_t{0} - (word >> 63);
      if (bits < 64) transitions &= ~uint64_t{0} >> (64 - bits);
    }
    if (transitions != 0) out = PutPositions<kMsbFirst>(transitions, base, out);
  };
  int offset = 0;
  for (; offset + 8 <= bytes; offset += 8) {
    const uint64_t raw = LoadWord(line + offset);
    std::memcpy(keep + offset, line + offset, 8);
    // A word all of the colour the line is in has no change; such a word
    // reads the same in any pixel order, so it is tested before the swap.
    if ((raw ^ invert) == colour) continue;
    scan((kMsbFirst ? __builtin_bswap64(raw) : raw) ^ invert, offset * 8, 64);
  }
  if (offset < bytes) {
    uint64_t word = 0;
    for (int i = 0; offset + i < bytes; ++i) {
      const uint64_t byte = line[offset + i];
      keep[offset + i] = line[offset + i];
      word |= kMsbFirst ? byte << (56 - 8 * i) : byte << (8 * i);
    }
    // The bits past the line's last byte are no pixels: the mask in scan
    // drops whatever changes they seem to make.
    scan(word ^ invert, offset * 8, 8 * (bytes - offset));
  }
  return out;
}

template <VectorSteps kSteps, bool kMsbFirst>
QB_INLINE uint16_t* FindChangesOf(const uint8_t* line, uint8_t* keep, int bytes, uint64_t invert,
                                  uint16_t* out) {
#ifdef QB_VECTOR_CODER
  if constexpr (kSteps == VectorSteps::kAvx512) {
    return vector::FindChanges<kMsbFirst>(line, keep, bytes, invert, out);
  }
  if constexpr (kSteps == VectorSteps::kAvx512Vbmi2) {
    return vector::FindChangesVbmi2<kMsbFirst>(line, keep, bytes, invert, out);
  }
#endif
  return FindChangesKeeping<kMsbFirst>(line, keep, bytes, invert, out);
}

// Fills codingChanges with the line's changes and the sentinels, keeping
// the line in previousLine; returns the count.
template <VectorSteps kSteps>
QB_INLINE int FindChanges(FaxCoderState& c, const uint8_t* line) {
  uint16_t* changes = c.codingChanges.data();
  uint8_t* keep = c.previousLine.data();
  const uint64_t invert = c.whiteValue == 0 ? ~uint64_t{0} : 0;
  uint16_t* const end =
      c.lsbFirstInput ? FindChangesOf<kSteps, false>(line, keep, c.bytesPerLine, invert, changes)
                      : FindChangesOf<kSteps, true>(line, keep, c.bytesPerLine, invert, changes);
  int count = static_cast<int>(end - changes);
  // Pixels past the last whole byte never arrive; they are coded white.
  const int pixelsFromInput = c.bytesPerLine * 8;
  if (pixelsFromInput < c.width && (count & 1) != 0) {
    changes[count++] = static_cast<uint16_t>(pixelsFromInput);
  }
  for (int i = 0; i < 3; ++i) changes[count + i] = static_cast<uint16_t>(c.width);
  return count;
}

// The line's runs, a white one and the black one after it together;
// changes[count], the width sentinel, ends the last run.
QB_INLINE void CodeOneDimensional(const uint16_t* changes, int count, FastSink& out) {
  constexpr FaxCode kNothing{0, 0};
  uint32_t start = 0;
  int i = 0;
  // Two pairs at a time while the second has a real change to start it.
  for (; i + 2 < count; i += 4) {
    const uint32_t one = changes[i], two = changes[i + 1];
    const uint32_t three = changes[i + 2], four = changes[i + 3];
    out.PutRunPairs(one - start, two - one, three - two, four - three);
    start = four;
  }
  for (; i < count; i += 2) {
    const uint32_t middle = changes[i], end = changes[i + 1];
    out.PutRuns(kNothing, middle - start, end - middle, 0);
    start = end;
  }
  if (i == count) out.PutRun(changes[count] - start, 0);
}

// A stretch of vertical codes from cur[0] on, by the vector steps of the
// build (VerticalRun of fax_coder_vector.h or fax_coder_avx2.h).
template <VectorSteps kSteps>
QB_INLINE int VerticalRun(const uint16_t* cur, const uint16_t* ref, int limit, uint32_t aligned,
                          uint64_t groups[8], bool* moved) {
#ifdef QB_VECTOR_CODER
  if constexpr (IsAvx512(kSteps)) {
    return vector::VerticalRun(cur, ref, limit, aligned, groups, moved);
  }
#endif
#ifdef QB_AVX2_CODER
  if constexpr (kSteps == VectorSteps::kAvx2) {
    return avx2::VerticalRun(cur, ref, limit, aligned, groups, moved);
  }
#endif
  *moved = false;
  return 0;
}

// Elements a vector step codes at most.
template <VectorSteps kSteps>
constexpr int kVectorLanes = IsAvx512(kSteps) ? 32 : 16;

// The two-dimensional coding procedure over changing-element lists (the
// plain way's, step for step). b1 is the first reference element right of
// a0 whose index has a1's parity; `j`, the first reference element right of
// a0 whatever its parity, only moves forward because a0 does, and b1 is j
// or the one after.
template <VectorSteps kSteps>
QB_INLINE void CodeTwoDimensional(const uint16_t* cur, int count, const uint16_t* ref, int width,
                                  FastSink& out) {
  int a0 = -1;
  int ia = 0;  // index of a1
  int j = 0;
  bool tryVector = true;  // false where the last stretch stopped, with the same b1
  for (;;) {
    // (a0 < width here, so the sentinels, at the width, end this search.)
    while (ref[j] <= a0) ++j;
    int ib = j + ((j ^ ia) & 1);
    if constexpr (kSteps != VectorSteps::kNone) {
      // A stretch of vertical codes, 16 or 32 elements a round, up to the
      // first element coded otherwise, which the steps below code. Where a pass
      // or a stroke of the reference line within a run of this one moves
      // b1 two further on in the stretch, the elements after go on there.
      // Tried only where a1 is coded in vertical mode itself, which two
      // compares tell, and the two elements after it are within three
      // pixels of the two reference elements after b1: a vector step costs
      // about as much as coding two or three elements one by one, and on a
      // page of text four stretches in ten are two elements long (the two
      // edges of a stroke).
      if (tryVector && ib >= 2 && ia >= 1 && ref[ib + 1] >= cur[ia] &&
          static_cast<unsigned>(cur[ia] - ref[ib] + 3) <= 6u &&
          static_cast<unsigned>(cur[ia + 1] - ref[ib + 1] + 3) <= 6u &&
          static_cast<unsigned>(cur[ia + 2] - ref[ib + 2] + 3) <= 6u) {
        int coded = 0;
        int moves = 0;
        for (;;) {
          // Zeroed: the vector step writes none when it codes nothing, and
          // GCC cannot tell that the loop below reads none then.
          uint64_t groups[8] = {};
          bool moved;
          const int run =
              VerticalRun<kSteps>(cur + ia + coded, ref + ib + 2 * moves + coded,
                                  count + 1 - ia - coded, coded == 0 ? 1 : 0, groups, &moved);
          if constexpr (IsAvx512(kSteps)) {
            // Eight codes a group: the bits in groups[0..3], their lengths
            // in groups[4..7].
            for (int g = 0; g < (run + 7) / 8; ++g) {
              out.PutLong(groups[g], static_cast<uint32_t>(groups[4 + g]));
            }
          } else {
            for (int g = 0; g < (run + 3) / 4; ++g) {
              out.Put(static_cast<uint32_t>(groups[g]), static_cast<uint32_t>(groups[g] >> 32));
            }
          }
          coded += run;
          moves += moved ? 1 : 0;
          if (run < kVectorLanes<kSteps>) break;
        }
        if (coded > 0) {
          ia += coded;
          a0 = cur[ia - 1];
          if (a0 >= width) return;
          // The reference element two before the last one's b1 is left of
          // a0 (it is at most the a0 before, or is the b1 a pass passed),
          // so the search for the next b1 may start one after it.
          j = ib + 2 * moves + coded - 2;
          tryVector = false;
          continue;
        }
      }
      tryVector = true;
    }
    const int a1 = cur[ia];
    if (ref[ib + 1] < a1) {
      // Passes, one per stroke of the line above that ends before a1
      // (several at the foot of a line of text). After each, a0 is its b2,
      // and the next element of the reference line, which is right of it
      // and of a1's colour, is b1.
      do {
        out.Put(kPassCode);
        ib += 2;
      } while (ref[ib + 1] < a1);
      a0 = ref[ib - 1];
      j = ib;
      continue;
    }
    const int b1 = ref[ib];
    const int delta = a1 - b1;
    if (delta == 0) {
      // A run of V0 codes while both lines change at the same places (the
      // usual case: a text line looks much like the one above it), found
      // four changes at a time. The coding line's first sentinel ends the
      // run: every element before it is a real change, left of the width,
      // so the reference side stays within its own changes as well.
      const int most = count + 1 - ia;
      int same = 1;
      for (; same < most; same += 4) {
        const uint64_t differing = LoadEntries(cur + ia + same) ^ LoadEntries(ref + ib + same);
        if (differing != 0) {
          same += std::countr_zero(differing) / 16;
          break;
        }
      }
      same = std::min(same, most);
      out.PutOnes(static_cast<uint32_t>(same));
      ia += same;
      a0 = cur[ia - 1];
      if (a0 >= width) return;
      j = ib + same;  // right after the reference element equal to a0
      continue;
    }
    if (static_cast<unsigned>(delta + 3) <= 6u) {
      out.Put(kVerticalCodes[delta + 3]);
      a0 = a1;
      ++ia;
      if (a0 >= width) return;
      continue;
    }
    const int a2 = cur[ia + 1];
    const uint32_t black = static_cast<uint32_t>(ia & 1);
    out.PutRuns(kHorizontalCode, static_cast<uint32_t>(a1 - std::max(a0, 0)),
                static_cast<uint32_t>(a2 - a1), black);
    a0 = a2;
    ia += 2;
    if (a0 >= width) return;
  }
}

template <VectorSteps kSteps>
QB_INLINE void CodeLine(FaxCoderState& c, const uint8_t* line) {
  const bool twoDimensional = c.lineInGroup != 0 || c.codingMode == kFaxModeMMR;
  if (twoDimensional && c.lineInGroup == 0) {
    // The first line of an MMR page, or of an MR group, refers to an
    // imaginary white line; a white line is then a repeat of it.
    c.referenceCount = 0;
    for (int i = 0; i < 3; ++i) c.referenceChanges[i] = static_cast<uint16_t>(c.width);
    c.previousCount = 0;
    c.previousInReference = true;
    c.previousKnown = true;
    std::fill(c.previousLine.begin(), c.previousLine.end(), c.whiteValue == 1 ? 0x00 : 0xFF);
  }
  // A line equal to the one before has its changes: no search.
  const bool same =
      c.previousKnown && std::memcmp(line, c.previousLine.data(), c.previousLine.size()) == 0;
  int count;
  bool inReference;  // where the line's changes are
  if (same) {
    count = c.previousCount;
    inReference = c.previousInReference;
  } else {
    count = FindChanges<kSteps>(c, line);
    inReference = false;
  }

  {
    FastSink out(c);
    const uint64_t lineStart = c.minimumBits > 0 ? out.Coded() : 0;
    if (c.codingMode != kFaxModeMMR) {
      out.Put(kEolCode);
      if (c.k != 1) out.Put(c.lineInGroup == 0 ? 1 : 0, 1);
    }
    if (!twoDimensional) {
      const uint16_t* changes = inReference ? c.referenceChanges.data() : c.codingChanges.data();
      CodeOneDimensional(changes, count, out);
    } else if (same) {
      // Against itself every change is a V0, and so is the end of the line.
      out.PutOnes(static_cast<uint32_t>(count) + 1);
    } else {
      CodeTwoDimensional<kSteps>(c.codingChanges.data(), count, c.referenceChanges.data(), c.width,
                                 out);
    }
    if (c.minimumBits > 0) {
      const uint64_t lineBits = out.Coded() - lineStart;
      if (lineBits < static_cast<uint64_t>(c.minimumBits)) {
        out.PutZeros(static_cast<uint64_t>(c.minimumBits) - lineBits);
      }
    }
    if (c.eolAlign && (out.PendingBits() % 8) != 0) out.Put(0, 8 - out.PendingBits() % 8);
  }

  c.lineInGroup = c.k == 0 ? 1 : static_cast<uint16_t>((c.lineInGroup + 1) % c.k);
  const bool nextTwoDimensional = c.lineInGroup != 0;
  if (nextTwoDimensional && !inReference) {
    // Swapping keeps both arrays allocated; the old reference is overwritten
    // by the next line's search.
    c.referenceChanges.swap(c.codingChanges);
  } else if (!nextTwoDimensional && inReference) {
    // The next line starts an MR group: it looks for a repeat's changes in
    // the coding list.
    std::memcpy(c.codingChanges.data(), c.referenceChanges.data(),
                (static_cast<size_t>(count) + 3) * sizeof(uint16_t));
  }
  if (nextTwoDimensional) c.referenceCount = count;
  c.previousCount = count;
  c.previousInReference = nextTwoDimensional;
  c.previousKnown = true;
  c.codingCount = 0;
  ++c.totalLines;
}

// Lines in a row, `count` of them, each right after the one before: one
// dispatch and one call for what arrives together.
template <VectorSteps kSteps>
QB_INLINE void CodeLines(FaxCoderState& c, const uint8_t* lines, size_t count) {
  const size_t stride = static_cast<size_t>(c.bytesPerLine);
  for (size_t i = 0; i < count; ++i) CodeLine<kSteps>(c, lines + i * stride);
}

// The same code built five times: for any x86-64 (or other) processor,
// with the bit-count instructions of newer ones (popcnt, lzcnt, tzcnt), and
// with those and the vector steps of AVX2, of AVX-512, or of AVX-512 with
// VBMI2, chosen at run time so that the program still runs everywhere.
void CodeLinesPortable(FaxCoderState& c, const uint8_t* lines, size_t count) {
  CodeLines<VectorSteps::kNone>(c, lines, count);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QB_WIDE_CODER 1
__attribute__((target("popcnt,lzcnt,bmi,bmi2"))) void CodeLinesWide(FaxCoderState& c,
                                                                  const uint8_t* lines,
                                                                  size_t count) {
  CodeLines<VectorSteps::kNone>(c, lines, count);
}
#endif

#ifdef QB_AVX2_CODER
QB_AVX2_TARGET void CodeLinesAvx2(FaxCoderState& c, const uint8_t* lines, size_t count) {
  CodeLines<VectorSteps::kAvx2>(c, lines, count);
}
#endif

#ifdef QB_VECTOR_CODER
QB_VECTOR_TARGET void CodeLinesVector(FaxCoderState& c, const uint8_t* lines, size_t count) {
  CodeLines<VectorSteps::kAvx512>(c, lines, count);
}

QB_VECTOR_VBMI2_TARGET void CodeLinesVectorVbmi2(FaxCoderState& c, const uint8_t* lines,
                                                 size_t count) {
  CodeLines<VectorSteps::kAvx512Vbmi2>(c, lines, count);
}
#endif

// The most the processor the program runs on offers.
CoderInstructions HostInstructions() {
#ifdef QB_WIDE_CODER
  __builtin_cpu_init();
  // Every processor with AVX2 has the bit-count instructions too.
  if (!(__builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi") &&
        __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("avx2"))) {
    return CoderInstructions::kAny;
  }
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl")) {
    return __builtin_cpu_supports("avx512vbmi2") ? CoderInstructions::kAvx512Vbmi2
                                                 : CoderInstructions::kAvx512;
  }
  return CoderInstructions::kAvx2;
#else
  return CoderInstructions::kAny;
#endif
}

std::atomic<CoderInstructions> g_mostAllowed{CoderInstructions::kAvx512Vbmi2};

}  // namespace

void LimitCoderInstructions(CoderInstructions most) {
  g_mostAllowed.store(most, std::memory_order_relaxed);
}

void CodeLinesFast(FaxCoderState& c, const uint8_t* lines, size_t count) {
  static const CoderInstructions host = HostInstructions();
  switch (std::min(host, g_mostAllowed.load(std::memory_order_relaxed))) {
#ifdef QB_VECTOR_CODER
    case CoderInstructions::kAvx512Vbmi2:
      return CodeLinesVectorVbmi2(c, lines, count);
    case CoderInstructions::kAvx512:
      return CodeLinesVector(c, lines, count);
#endif
#ifdef QB_AVX2_CODER
    case CoderInstructions::kAvx2:
      return CodeLinesAvx2(c, lines, count);
#endif
#ifdef QB_WIDE_CODER
    case CoderInstructions::kBitCount:
      return CodeLinesWide(c, lines, count);
#endif
    default:
      return CodeLinesPortable(c, lines, count);
  }
}

}  // namespace qb
