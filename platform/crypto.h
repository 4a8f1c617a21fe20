// Cryptographic primitives from libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qb {

// SHA-1 digest of data into digest[20]; false on failure.
bool Sha1(const void* data, size_t length, uint8_t digest[20]);

// Applies the RC4 key stream of `key` (keyLength bytes) to buffer in place;
// the stream starts anew with each call. False on failure.
bool Rc4Apply(const uint8_t* key, size_t keyLength, uint8_t* buffer, size_t length);

// Whether the two blocks of `length` bytes are equal, in a time that does
// not depend on where they differ (secrets and one-time passwords).
bool ConstantTimeEqual(const void* a, const void* b, size_t length);

// Fills `data` with bytes from the system's cryptographic random source;
// false when it cannot (then nothing secret may be made from them).
bool RandomBytes(uint8_t* data, size_t length);
// `bytes` random bytes as lower-case hex, or empty on failure.
std::string RandomHex(size_t bytes);
// Overwrites `length` bytes with zeros in a way the compiler keeps.
void SecureZero(void* data, size_t length);

}  // namespace qb
