// Code tables of ITU-T T.4 (shared by T.6), stored the way the coder emits
// them: first code bit in bit 0, so that a code can be ORed into an
// LSB-first bit buffer without reversing it per use.
#pragma once

#include <cstdint>

namespace qb {

struct FaxCode {
  uint16_t bits;    // first code bit in bit 0
  uint16_t length;  // in bits
};

// Terminating codes, runs 0 to 63.
extern const FaxCode kWhiteTerminating[64];
extern const FaxCode kBlackTerminating[64];
// Make-up codes for 64 to 1728 in steps of 64 (index = run / 64 - 1).
extern const FaxCode kWhiteMakeUp[27];
extern const FaxCode kBlackMakeUp[27];
// Extended make-up codes common to both colours, 1792 to 2560 (index =
// run / 64 - 28).
extern const FaxCode kExtendedMakeUp[13];

extern const FaxCode kEolCode;  // 000000000001
// Two-dimensional mode codes.
extern const FaxCode kPassCode;        // 0001
extern const FaxCode kHorizontalCode;  // 001
// Vertical codes indexed by a1 - b1 + 3: VL3, VL2, VL1, V0, VR1, VR2, VR3.
extern const FaxCode kVerticalCodes[7];

}  // namespace qb
