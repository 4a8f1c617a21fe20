// The steps of the fast way (fax_coder_fast.cc) that use the 512-bit
// vector instructions of newer x86-64 processors (AVX-512 F, BW and VL),
// for the build of the coder chosen at run time where the processor has
// them:
// - the changes of a line are looked for 512 pixels at a time: a block all
//   of the colour the line is in (most of an office page) costs one compare;
// - a stretch of the two-dimensional coding where every element is coded
//   in vertical mode (the usual case: a text line is the one above it with
//   its edges moved by a pixel or none) is found 32 elements at a time, and
//   its codes are joined four at a time in the vector, so that neither
//   the V0 / VR1 / VL1 mix, which follows no pattern, nor a branch per
//   element is in the way.
// Only fax_coder_fast.cc includes this.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QB_VECTOR_CODER 1

// GCC 12 takes the deliberately undefined vectors inside the intrinsics
// (_mm512_undefined_*) for a mistake once they are inlined.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <cstdint>

// Not always_inline: a function of a wider target cannot be forced into
// one of the default target; these end up inlined into the vector build
// of the coder, whose target they share.
#define QB_VECTOR_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,popcnt,lzcnt,bmi,bmi2")))
#define QB_VECTOR_VBMI2_TARGET \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi2,popcnt,lzcnt,bmi,bmi2")))

namespace qb::vector {

// A line looked at 512 pixels at a time: each block's changes as set bits
// (pixel i of the block in bit i), the line's bytes copied to `keep` on
// the way. An MSB-first line has the bits of each byte reversed first, so
// that the first pixel is in bit 0 either way.
template <bool kMsbFirst>
class ChangeBlocks {
 public:
  QB_VECTOR_TARGET explicit ChangeBlocks(uint64_t invert)
      : inverted_(_mm512_set1_epi64(static_cast<long long>(invert))) {}

  // The changes of the block at `offset` into `transitions`; false, and
  // nothing written, for a block all of the colour the line is in.
  QB_VECTOR_TARGET bool Next(const uint8_t* line, uint8_t* keep, int bytes, int offset,
                             __m512i* transitions) {
    // Each nibble reversed, for the low and for the high half of a byte.
    const __m512i reversedLow =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15));
    const __m512i reversedHigh = _mm512_slli_epi16(reversedLow, 4);
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const int left = bytes - offset;
    const __mmask64 valid = left >= 64 ? ~__mmask64{0} : _bzhi_u64(~uint64_t{0}, left);
    const __m512i raw = _mm512_maskz_loadu_epi8(valid, line + offset);
    _mm512_mask_storeu_epi8(keep + offset, valid, raw);
    __m512i pixels = _mm512_xor_si512(raw, inverted_);
    // A block all of the line's colour has no change and leaves the colour
    // (and what carries into the next block) as it is; it reads the same
    // in any pixel order.
    if (left >= 64 && _mm512_cmpneq_epi64_mask(pixels, colour_) == 0) return false;
    if constexpr (kMsbFirst) {
      pixels = _mm512_or_si512(
          _mm512_shuffle_epi8(reversedHigh, _mm512_and_si512(pixels, nibble)),
          _mm512_shuffle_epi8(reversedLow, _mm512_and_si512(_mm512_srli_epi16(pixels, 4), nibble)));
    }
    // Word i - 1 beside word i (word 7 of the block before beside word 0).
    const __m512i previous = _mm512_alignr_epi64(pixels, before_, 7);
    *transitions = _mm512_xor_si512(
        pixels, _mm512_or_si512(_mm512_slli_epi64(pixels, 1), _mm512_srli_epi64(previous, 63)));
    colour_ = _mm512_permutexvar_epi64(_mm512_set1_epi64(7), _mm512_srai_epi64(pixels, 63));
    before_ = pixels;
    // Past the line's last byte there are no pixels, nor changes.
    if (left < 64) *transitions = _mm512_maskz_mov_epi8(valid, *transitions);
    return true;
  }

 private:
  const __m512i inverted_;
  __m512i before_ = _mm512_setzero_si512();  // the block before; its last pixel carries in
  __m512i colour_ = _mm512_setzero_si512();  // every bit the colour of the last pixel so far
};

// The changes of `bytes` bytes at `line` (see ChangeBlocks), written from
// `out` on; returns the end.
template <bool kMsbFirst>
QB_VECTOR_TARGET inline uint16_t* FindChanges(const uint8_t* line, uint8_t* keep, int bytes,
                                              uint64_t invert, uint16_t* out) {
  ChangeBlocks<kMsbFirst> blocks(invert);
  for (int offset = 0; offset < bytes; offset += 64) {
    __m512i transitions;
    if (!blocks.Next(line, keep, bytes, offset, &transitions)) continue;
    // The positions of the set bits, 16 pixels at once: the pixel numbers
    // of the set bits of a 16-bit piece pushed together, narrowed to 16
    // bits and stored whole (at most 15 entries past the last are junk,
    // which the next ones or the sentinels overwrite). Two pieces a round
    // (the second maybe none: piece 32, always 0), so that half as many
    // rounds end in a jump the processor cannot foresee.
    uint32_t pieces = _mm512_test_epi16_mask(transitions, transitions);
    if (pieces == 0) continue;
    alignas(64) uint16_t piece[33];
    _mm512_store_si512(piece, transitions);
    piece[32] = 0;
    const __m512i first = _mm512_add_epi32(
        _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
        _mm512_set1_epi32(offset * 8));
    do {
      const unsigned i = _tzcnt_u32(pieces);
      pieces &= pieces - 1;
      const unsigned k = _tzcnt_u32(pieces);  // 32 when there is no other
      pieces = _blsr_u32(pieces);
      const __mmask16 setI = piece[i];
      const __mmask16 setK = piece[k];
      const __m512i atI = _mm512_maskz_compress_epi32(
          setI, _mm512_add_epi32(first, _mm512_set1_epi32(static_cast<int>(i * 16))));
      const __m512i atK = _mm512_maskz_compress_epi32(
          setK, _mm512_add_epi32(first, _mm512_set1_epi32(static_cast<int>(k * 16))));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_cvtepi32_epi16(atI));
      out += _mm_popcnt_u32(setI);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_cvtepi32_epi16(atK));
      out += _mm_popcnt_u32(setK);
    } while (pieces != 0);
  }
  return out;
}

// FindChanges for processors that also have AVX-512 VBMI2, whose compress
// of bytes takes the pixel numbers of a whole 64-pixel word in one step:
// numbers within the word as bytes, widened to 16 bits with the word's
// first pixel added (at most 31 entries past the last are junk). Text has
// changes in most words it crosses, so a step per word rather than per
// half word halves the rounds.
template <bool kMsbFirst>
QB_VECTOR_VBMI2_TARGET inline uint16_t* FindChangesVbmi2(const uint8_t* line, uint8_t* keep,
                                                         int bytes, uint64_t invert,
                                                         uint16_t* out) {
  ChangeBlocks<kMsbFirst> blocks(invert);
  const __m512i pixelNumbers = _mm512_set_epi8(
      63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41,
      40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18,
      17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  for (int offset = 0; offset < bytes; offset += 64) {
    __m512i transitions;
    if (!blocks.Next(line, keep, bytes, offset, &transitions)) continue;
    uint32_t words = _mm512_test_epi64_mask(transitions, transitions);
    if (words == 0) continue;
    alignas(64) uint64_t word[8];
    _mm512_store_si512(word, transitions);
    do {
      const unsigned i = _tzcnt_u32(words);
      words = _blsr_u32(words);
      const __mmask64 set = word[i];
      const __m512i within = _mm512_maskz_compress_epi8(set, pixelNumbers);
      const __m512i first = _mm512_set1_epi16(static_cast<short>(offset * 8 + i * 64));
      _mm512_storeu_si512(
          out, _mm512_add_epi16(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(within)), first));
      const unsigned found = static_cast<unsigned>(_mm_popcnt_u64(set));
      if (found > 32) [[unlikely]] {
        _mm512_storeu_si512(
            out + 32,
            _mm512_add_epi16(_mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(within, 1)), first));
      }
      out += found;
    } while (words != 0);
  }
  return out;
}

// A compare's mask as a number the compiler keeps as it is: GCC would
// fold the ANDs of the masks into masked compares, each waiting for the
// one before, which is the chain the separate tests are there to avoid.
QB_VECTOR_TARGET inline uint32_t Apart(__mmask32 mask) {
  uint32_t bits = _cvtmask32_u32(mask);
  __asm__("" : "+r"(bits));
  return bits;
}

// How many coding elements in a row, from cur[0] on (a0 being cur[-1]), are
// coded in vertical mode against the reference elements from ref[0] on, one
// for one, allowing one move of the reference elements two further on: at
// most `limit` and at most 32. For each, b1 is ref[k] when ref[k - 2] <= a0
// < ref[k] (ref[k - 1] has the other colour), it is no pass (b2 = ref[k +
// 1] is not left of a1), and a1 is within three pixels of b1. `aligned` 1
// says that ref[0] is b1 of cur[0] whatever a0 is (the caller found it).
// At the first element that is not so, the elements may go on two further
// on in the reference line:
// - after a pass (b2 left of a1): the pass code, then a1's vertical code
//   against ref[k + 2], b1 once a0 is b2 (a stroke of the line above that
//   ends in this one, the commonest way a stretch of text is broken);
// - when ref[k] is not right of a0 but ref[k + 2] is (a stroke of the line
//   above lies within a run of this one): a1's vertical code against it.
// The elements after that are taken against ref[k + 2] on; `*moved` tells
// the caller so. Their codes go to `groups`, eight to a word: the bits of
// codes 8g to 8g + 7 in groups[g] from bit 0 (at most 7 x 7 + 4 + 7 bits),
// their length in groups[4 + g]. Needs
// ref[-2] and up to 35 elements past both pointers readable; elements past
// the first that fails are never used, whatever they hold.
QB_VECTOR_TARGET inline int VerticalRun(const uint16_t* cur, const uint16_t* ref, int limit,
                                        uint32_t aligned, uint64_t groups[8], bool* moved) {
  const __m512i a1 = _mm512_loadu_si512(cur);
  const __m512i a0 = _mm512_loadu_si512(cur - 1);
  const __m512i b1 = _mm512_loadu_si512(ref);
  const __m512i b2 = _mm512_loadu_si512(ref + 1);
  const __m512i beforeB1 = _mm512_loadu_si512(ref - 2);
  const __m512i b1After = _mm512_loadu_si512(ref + 2);  // b1 and b2 two further on
  const __m512i b2After = _mm512_loadu_si512(ref + 3);
  const __m512i three = _mm512_set1_epi16(3);
  // Each test on its own, then all together: a chain of masked compares
  // would wait for one compare after the other.
  const uint32_t rightOfA0 = Apart(_mm512_cmpgt_epu16_mask(b1, a0));
  const uint32_t nextAfterA0 = Apart(_mm512_cmple_epu16_mask(beforeB1, a0));
  const uint32_t noPass = Apart(_mm512_cmpge_epu16_mask(b2, a1));
  // |a1 - b1| <= 3 without wrapping: saturating adds on both sides.
  const uint32_t notFarRight = Apart(_mm512_cmple_epu16_mask(a1, _mm512_adds_epu16(b1, three)));
  const uint32_t notFarLeft = Apart(_mm512_cmple_epu16_mask(b1, _mm512_adds_epu16(a1, three)));
  // The same two further on. Right after a pass b1 is right of a0 (= b2
  // of the pass) and the one before b1 is that a0, so only the last three
  // tests are left.
  const uint32_t rightOfA0After = Apart(_mm512_cmpgt_epu16_mask(b1After, a0));
  const uint32_t nextAfterA0After = Apart(_mm512_cmple_epu16_mask(b1, a0));
  const uint32_t noPassAfter = Apart(_mm512_cmpge_epu16_mask(b2After, a1));
  const uint32_t notFarRightAfter =
      Apart(_mm512_cmple_epu16_mask(a1, _mm512_adds_epu16(b1After, three)));
  const uint32_t notFarLeftAfter =
      Apart(_mm512_cmple_epu16_mask(b1After, _mm512_adds_epu16(a1, three)));
  const uint32_t isB1 = (rightOfA0 & nextAfterA0) | aligned;
  const uint32_t before = isB1 & (noPass & notFarRight & notFarLeft);
  const uint32_t pass = isB1 & static_cast<uint32_t>(~noPass);
  const uint32_t verticalAfterPass = noPassAfter & notFarRightAfter & notFarLeftAfter;
  const uint32_t after = (rightOfA0After & nextAfterA0After) & verticalAfterPass;
  // The first element that is not coded in vertical mode against its pair,
  // as a bit (none when all 32 are); the move is made there if it may be.
  const uint32_t first = ~before & (before + 1);
  const int firstAt = static_cast<int>(_tzcnt_u32(~before));
  const uint32_t movedAt =
      (first & ((pass & verticalAfterPass) | after)) != 0 && firstAt < limit ? first : 0;
  const uint32_t passAt = movedAt & pass;
  // From the move on (nothing when there is none), the pairs two further on.
  const uint32_t fromMove = movedAt != 0 ? ~(movedAt - 1) : 0;
  const uint32_t vertical = (before & ~fromMove) | movedAt | (after & fromMove);
  int run = static_cast<int>(_tzcnt_u32(~vertical));
  if (run > limit) run = limit;
  *moved = movedAt != 0;
  if (run == 0) return 0;
  const __mmask32 coded = _bzhi_u32(~0u, static_cast<unsigned>(run));
  // The codes by a1 - b1 + 3 (kVerticalCodes, which the tests hold this
  // to through the plain way), nothing for the elements not coded. As
  // constants rather than loaded from the table: the out buffer's byte
  // stores could change the table for all the compiler knows, so it would
  // load it again every time.
  const __m512i codeBits = _mm512_set_epi16(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                            0, 0, 0, 0, 0, 0, 0, 96, 48, 6, 1, 2, 16, 32);
  const __m512i codeLengths = _mm512_set_epi16(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                               0, 0, 0, 0, 0, 0, 0, 0, 7, 6, 3, 1, 3, 6, 7);
  const __m512i index =
      _mm512_mask_blend_epi16(fromMove, _mm512_sub_epi16(a1, b1), _mm512_sub_epi16(a1, b1After));
  const __m512i shifted = _mm512_add_epi16(index, three);
  __m512i bits = _mm512_maskz_permutexvar_epi16(coded, shifted, codeBits);
  __m512i lengths = _mm512_maskz_permutexvar_epi16(coded, shifted, codeLengths);
  // The pass code (0001, first bit in bit 0) before the vertical code of
  // the element it belongs to.
  bits = _mm512_mask_mov_epi16(bits, passAt,
                               _mm512_or_si512(_mm512_slli_epi16(bits, 4), _mm512_set1_epi16(8)));
  lengths = _mm512_mask_add_epi16(lengths, passAt, lengths, _mm512_set1_epi16(4));
  // Pairs, then fours: the second code moved past the first's length.
  const __m512i low16 = _mm512_set1_epi32(0xFFFF);
  const __m512i bits2 = _mm512_or_si512(
      _mm512_and_si512(bits, low16),
      _mm512_sllv_epi32(_mm512_srli_epi32(bits, 16), _mm512_and_si512(lengths, low16)));
  const __m512i lengths2 =
      _mm512_add_epi32(_mm512_and_si512(lengths, low16), _mm512_srli_epi32(lengths, 16));
  const __m512i low32 = _mm512_set1_epi64(0xFFFFFFFF);
  const __m512i lengths4 =
      _mm512_add_epi64(_mm512_and_si512(lengths2, low32), _mm512_srli_epi64(lengths2, 32));
  const __m512i bits4 = _mm512_or_si512(
      _mm512_and_si512(bits2, low32),
      _mm512_sllv_epi64(_mm512_srli_epi64(bits2, 32), _mm512_and_si512(lengths2, low32)));
  // Eights: the second four moved past the first four's length (at most
  // 8 x 7 + 4 bits), then the bits of the four eights and their lengths.
  const __m512i secondBits = _mm512_shuffle_epi32(bits4, _MM_PERM_BADC);
  const __m512i secondLengths = _mm512_shuffle_epi32(lengths4, _MM_PERM_BADC);
  const __m512i bits8 = _mm512_or_si512(bits4, _mm512_sllv_epi64(secondBits, lengths4));
  const __m512i lengths8 = _mm512_add_epi64(lengths4, secondLengths);
  _mm512_storeu_si512(groups, _mm512_permutex2var_epi64(
                                  bits8, _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14), lengths8));
  return run;
}

}  // namespace qb::vector

#endif
