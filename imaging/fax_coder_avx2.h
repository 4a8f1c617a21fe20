// The steps of the fast way (fax_coder_fast.cc) for x86-64 processors with
// AVX2 but not AVX-512 (many servers and desktops, AMD's among them), for
// the build of the coder chosen at run time where the processor has them.
// A stretch of vertical codes is found 16 elements at a time, going on over
// a pass or a stroke of the line above that this line covers, and its codes
// are joined four at a time in the vector, as the 512-bit step of
// fax_coder_vector.h does 32 at a time. The changes of a line are found a
// word at a time as in the build without vector steps: a 256-bit search
// was slower here, its extra test per block mispredicted more often than
// the words it saved cost.
// AVX2 compares only signed 16-bit numbers and has no 16-bit lane masks:
// positions are compared with their top bit flipped, and a lane's test is
// two bits of a byte mask. Only fax_coder_fast.cc includes this.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QB_AVX2_CODER 1

// As in fax_coder_vector.h: GCC 12 warns inside the AVX-512 intrinsics,
// which this include brings along.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <cstdint>

// As the 512-bit steps: not always_inline, inlined into the build of the
// coder whose target they share.
#define QB_AVX2_TARGET __attribute__((target("avx2,popcnt,lzcnt,bmi,bmi2")))

namespace qb::avx2 {

QB_AVX2_TARGET inline __m256i Load(const void* at) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(at));
}

// A position with its top bit flipped: two such compare as signed numbers
// as the positions do as unsigned ones.
QB_AVX2_TARGET inline __m256i Flipped(__m256i positions) {
  return _mm256_xor_si256(positions, _mm256_set1_epi16(static_cast<short>(0x8000)));
}

// How many coding elements in a row, from cur[0] on (a0 being cur[-1]),
// are coded in vertical mode against the reference elements from ref[0]
// on, at most `limit` and at most 16, allowing one move of the reference
// elements two further on: the 512-bit VerticalRun of fax_coder_vector.h,
// whose comment says what is tested, for 16 elements. Their codes go to
// `groups`, four to a word (the bits from bit 0, the length in the high
// half). Needs ref[-2] and up to 19 elements past both pointers readable.
QB_AVX2_TARGET inline int VerticalRun(const uint16_t* cur, const uint16_t* ref, int limit,
                                      uint32_t aligned, uint64_t groups[4], bool* moved) {
  const __m256i three = _mm256_set1_epi16(3);
  const __m256i a1 = Load(cur);
  const __m256i b1 = Load(ref);
  const __m256i b1After = Load(ref + 2);  // b1 and b2 two further on
  const __m256i a0 = Flipped(Load(cur - 1));
  const __m256i a1f = Flipped(a1);
  const __m256i b1f = Flipped(b1);
  const __m256i b1Afterf = Flipped(b1After);
  const __m256i b2f = Flipped(Load(ref + 1));
  const __m256i beforeB1 = Flipped(Load(ref - 2));
  const __m256i b2After = Flipped(Load(ref + 3));
  const __m256i a1Near = Flipped(_mm256_adds_epu16(a1, three));
  // Each test on its own, then all together (as the 512-bit step).
  const __m256i rightOfA0 = _mm256_cmpgt_epi16(b1f, a0);
  const __m256i beforeB1RightOfA0 = _mm256_cmpgt_epi16(beforeB1, a0);
  const __m256i pass = _mm256_cmpgt_epi16(a1f, b2f);
  const __m256i farRight = _mm256_cmpgt_epi16(a1f, Flipped(_mm256_adds_epu16(b1, three)));
  const __m256i farLeft = _mm256_cmpgt_epi16(b1f, a1Near);
  const __m256i rightOfA0After = _mm256_cmpgt_epi16(b1Afterf, a0);
  const __m256i passAfter = _mm256_cmpgt_epi16(a1f, b2After);
  const __m256i farRightAfter = _mm256_cmpgt_epi16(a1f, Flipped(_mm256_adds_epu16(b1After, three)));
  const __m256i farLeftAfter = _mm256_cmpgt_epi16(b1Afterf, a1Near);
  const __m256i laneZero = _mm256_setr_epi16(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i isB1 = _mm256_or_si256(_mm256_andnot_si256(beforeB1RightOfA0, rightOfA0),
                                       aligned != 0 ? laneZero : _mm256_setzero_si256());
  const __m256i notVertical = _mm256_or_si256(pass, _mm256_or_si256(farRight, farLeft));
  const __m256i notVerticalAfter =
      _mm256_or_si256(passAfter, _mm256_or_si256(farRightAfter, farLeftAfter));
  // Two bits per element, as bytes.
  const uint32_t before =
      static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_andnot_si256(notVertical, isB1)));
  const uint32_t passes = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(isB1, pass)));
  const uint32_t verticalAfterPass = ~static_cast<uint32_t>(_mm256_movemask_epi8(notVerticalAfter));
  const uint32_t after = static_cast<uint32_t>(_mm256_movemask_epi8(
      _mm256_andnot_si256(notVerticalAfter, _mm256_andnot_si256(rightOfA0, rightOfA0After))));
  // The first element not coded in vertical mode against its pair (16 when
  // all are); the move is made there if it may be.
  const int firstAt = static_cast<int>(_tzcnt_u32(~before)) / 2;
  const uint64_t movable = (passes & verticalAfterPass) | after;
  const bool move = firstAt < 16 && firstAt < limit && ((movable >> (2 * firstAt)) & 1) != 0;
  int run = firstAt;
  if (move) {
    // The element moved, then those after it against the pairs two on.
    const uint64_t rest = static_cast<uint64_t>(after) >> (2 * firstAt + 2);
    run += 1 + static_cast<int>(_tzcnt_u64(~rest)) / 2;
  }
  if (run > limit) run = limit;
  *moved = move;
  if (run == 0) return 0;
  const __m256i lane = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m256i fromMove =
      move ? _mm256_cmpgt_epi16(lane, _mm256_set1_epi16(static_cast<short>(firstAt - 1)))
           : _mm256_setzero_si256();
  const __m256i passAt =
      (move && ((passes >> (2 * firstAt)) & 1) != 0)
          ? _mm256_cmpeq_epi16(lane, _mm256_set1_epi16(static_cast<short>(firstAt)))
          : _mm256_setzero_si256();
  const __m256i coded = _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<short>(run)), lane);
  // The codes by a1 - b1 + 3 (kVerticalCodes, as the 512-bit step), looked
  // up by the low byte of each element.
  const __m256i codeBits = _mm256_setr_epi8(32, 16, 2, 1, 6, 48, 96, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32,
                                            16, 2, 1, 6, 48, 96, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i codeLengths = _mm256_setr_epi8(7, 6, 3, 1, 3, 6, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 6,
                                               3, 1, 3, 6, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i index = _mm256_add_epi16(
      _mm256_blendv_epi8(_mm256_sub_epi16(a1, b1), _mm256_sub_epi16(a1, b1After), fromMove), three);
  const __m256i lowBytes = _mm256_and_si256(coded, _mm256_set1_epi16(0x00FF));
  __m256i bits = _mm256_and_si256(_mm256_shuffle_epi8(codeBits, index), lowBytes);
  __m256i lengths = _mm256_and_si256(_mm256_shuffle_epi8(codeLengths, index), lowBytes);
  // The pass code (0001, first bit in bit 0) before the vertical code of
  // the element it belongs to.
  bits = _mm256_blendv_epi8(bits, _mm256_or_si256(_mm256_slli_epi16(bits, 4), _mm256_set1_epi16(8)),
                            passAt);
  lengths = _mm256_add_epi16(lengths, _mm256_and_si256(passAt, _mm256_set1_epi16(4)));
  // Pairs, then fours: the second code moved past the first's length.
  const __m256i low16 = _mm256_set1_epi32(0xFFFF);
  const __m256i bits2 = _mm256_or_si256(
      _mm256_and_si256(bits, low16),
      _mm256_sllv_epi32(_mm256_srli_epi32(bits, 16), _mm256_and_si256(lengths, low16)));
  const __m256i lengths2 =
      _mm256_add_epi32(_mm256_and_si256(lengths, low16), _mm256_srli_epi32(lengths, 16));
  const __m256i low32 = _mm256_set1_epi64x(0xFFFFFFFF);
  const __m256i lengths4 =
      _mm256_add_epi64(_mm256_and_si256(lengths2, low32), _mm256_srli_epi64(lengths2, 32));
  const __m256i bits4 = _mm256_or_si256(
      _mm256_and_si256(bits2, low32),
      _mm256_sllv_epi64(_mm256_srli_epi64(bits2, 32), _mm256_and_si256(lengths2, low32)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(groups),
                      _mm256_or_si256(bits4, _mm256_slli_epi64(lengths4, 32)));
  return run;
}

}  // namespace qb::avx2

#endif
