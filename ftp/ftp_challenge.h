// The challenge-response login of the scanners: a fresh 20-digit challenge
// for each USER, and the answer a printer computes from it with the secret
// the printers share with this program (SHA-1 over secret and challenge).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb {

constexpr size_t kChallengeDigits = 20;
constexpr size_t kAnswerDigits = 40;

// The challenge for the processor counter's low seven bytes (`counter`) and
// the wall clock `seconds`: the counter bytes least significant first, the
// low 25 bits of the time in bytes 6 (top bit) to 9, as 20 upper-case
// hexadecimal digits into out[21].
void FormatChallenge(uint64_t counter, int64_t seconds, char out[kChallengeDigits + 1]);
// A new challenge: the time-stamp counter where it can be read, a monotonic
// nanosecond clock elsewhere.
void MakeChallenge(int64_t seconds, char out[kChallengeDigits + 1]);

// The answer expected for `challenge`: SHA-1 over the secret followed by the
// challenge's bytes (each pair of digits one byte, a non-digit counting as
// 0), as 40 upper-case hexadecimal digits into out[41]. Every buffer that
// held the secret is cleared before returning; each call uses its own, so
// sessions may compute answers at the same time.
void ExpectedAnswer(const char* challenge, char out[kAnswerDigits + 1]);

// Whether `given` equals the 40-digit `expected` ignoring case, compared in
// constant time.
bool AnswerMatches(const char* given, const char* expected);

}  // namespace qb
