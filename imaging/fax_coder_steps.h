// The coder's two ways of coding a line, over the state in
// fax_coder_state.h: the plain way (fax_coder_plain.cc), one step per code
// and per change, kept as the oracle; and the fast way (fax_coder_fast.cc).
// Both leave the state, the out buffer and the page file exactly as the
// other would, so a page may switch between them at any line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/fax_coder_state.h"

namespace qb {

// Writes what the out buffer holds with one write (bit-reversing it first
// for MSB-first output).
void FlushOutBuffer(FaxCoderState& c);

// Codes one line and moves on to the next (line counter, MR group, the
// reference line); the fast way takes `count` lines that follow each other
// in memory.
void CodeLinePlain(FaxCoderState& c, const uint8_t* line);
void CodeLinesFast(FaxCoderState& c, const uint8_t* lines, size_t count);
// The instructions the fast way may use, each with those before it: every
// processor's; the bit-count ones of newer x86-64 processors (popcnt,
// lzcnt, tzcnt, BMI); AVX2's 256-bit vector ones; AVX-512's (F, BW, VL)
// 512-bit ones; and AVX-512 VBMI2's.
enum class CoderInstructions { kAny, kBitCount, kAvx2, kAvx512, kAvx512Vbmi2 };
// The most the fast way may use; it uses the most of these the processor
// has. The default, kAvx512Vbmi2, allows all (tests run every build).
void LimitCoderInstructions(CoderInstructions most);
// Ends the page's code (RTC or EOFB) and pads it to a whole byte in the out
// buffer.
void CodePageEnd(FaxCoderState& c);

// Longest run whose make-up and terminating codes come from one table entry.
constexpr uint32_t kTableRunMax = 2560;

// Every run up to kTableRunMax as one bit string (make-up code then
// terminating code, first bit in bit 0, at most 13 + 12 bits) with its
// length in the top five bits: a run costs one load.
struct RunTable {
  static constexpr int kLengthShift = 27;
  uint32_t entry[2][kTableRunMax + 1];  // [0] white, [1] black
  RunTable();
};
const RunTable& Runs();

}  // namespace qb
