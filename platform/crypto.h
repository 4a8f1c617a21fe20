// Cryptographic primitives from libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb {

// SHA-1 digest of data into digest[20]; false on failure.
bool Sha1(const void* data, size_t length, uint8_t digest[20]);

// Applies the RC4 key stream of `key` (keyLength bytes) to buffer in place;
// the stream starts anew with each call. False on failure.
bool Rc4Apply(const uint8_t* key, size_t keyLength, uint8_t* buffer, size_t length);

// Whether the two blocks of `length` bytes are equal, in a time that does
// not depend on where they differ (secrets and one-time passwords).
bool ConstantTimeEqual(const void* a, const void* b, size_t length);

// Overwrites `length` bytes with zeros in a way the compiler keeps.
void SecureZero(void* data, size_t length);

}  // namespace qb
