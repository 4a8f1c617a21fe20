#include "ftp/ftp_challenge.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/crypto.h"

namespace qb {
namespace {

// The shared secret, never held in clear text in the program: each byte is
// stored as ((byte - 0x13) mod 256) XOR 0x5A and turned back only for the
// moment an answer is computed.
constexpr uint8_t kStoredSecret[29] = {0x64, 0x38, 0x0C, 0x03, 0x03, 0x15, 0x06, 0x3F, 0x46, 0x69,
                                       0x1B, 0x67, 0x40, 0x0A, 0x0F, 0x14, 0x03, 0x03, 0x08, 0x01,
                                       0x0E, 0x08, 0x46, 0x39, 0x44, 0x41, 0x47, 0x72, 0x62};
constexpr uint8_t kSecretMask = 0x5A;
constexpr uint8_t kSecretOffset = 0x13;
constexpr size_t kMessageSize = 300;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

void Hex(const uint8_t* bytes, size_t count, char* out) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < count; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  out[2 * count] = '\0';
}

}  // namespace

void FormatChallenge(uint64_t counter, int64_t seconds, char out[kChallengeDigits + 1]) {
  uint8_t bytes[10] = {};
  for (int i = 0; i < 7; ++i) bytes[i] = static_cast<uint8_t>(counter >> (8 * i));
  const uint32_t t = static_cast<uint32_t>(seconds) & 0x1FFFFFF;
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x7F) | (t >> 24));
  bytes[7] = static_cast<uint8_t>((t >> 16) & 0xFF);
  bytes[8] = static_cast<uint8_t>((t >> 8) & 0xFF);
  bytes[9] = static_cast<uint8_t>(t & 0xFF);
  Hex(bytes, 10, out);
}

void MakeChallenge(int64_t seconds, char out[kChallengeDigits + 1]) {
  uint64_t counter = 0;
  if (!ReadTimeStampCounter(&counter)) counter = static_cast<uint64_t>(MonotonicNs());
  FormatChallenge(counter, seconds, out);
}

void ExpectedAnswer(const char* challenge, char out[kAnswerDigits + 1]) {
  uint8_t secret[30];
  for (size_t i = 0; i < sizeof kStoredSecret; ++i) {
    secret[i] = static_cast<uint8_t>((kStoredSecret[i] ^ kSecretMask) + kSecretOffset);
  }
  secret[29] = 0;
  uint8_t message[kMessageSize];
  size_t length = 0;
  for (size_t i = 0; i < 29; ++i) message[length++] = secret[i];
  const size_t digits = std::strlen(challenge);
  for (size_t i = 0; i < digits && length < kMessageSize; i += 2) {
    const int high = HexValue(challenge[i]);
    const int low = i + 1 < digits ? HexValue(challenge[i + 1]) : 0;
    message[length++] = static_cast<uint8_t>(high << 4 | low);
  }
  uint8_t digest[20];
  if (!Sha1(message, length, digest)) std::memset(digest, 0, sizeof digest);
  Hex(digest, sizeof digest, out);
  SecureZero(message, sizeof message);
  SecureZero(secret, sizeof secret);
  SecureZero(digest, sizeof digest);
}

bool AnswerMatches(const char* given, const char* expected) {
  if (std::strlen(given) != kAnswerDigits || std::strlen(expected) != kAnswerDigits) return false;
  char upper[kAnswerDigits];
  for (size_t i = 0; i < kAnswerDigits; ++i) {
    upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(given[i])));
  }
  const bool equal = ConstantTimeEqual(upper, expected, kAnswerDigits);
  SecureZero(upper, sizeof upper);
  return equal;
}

}  // namespace qb
