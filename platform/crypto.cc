// RC4 is a legacy cipher in libcrypto 3; the low-level interface is still
// built on Debian and avoids loading the legacy provider.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "platform/crypto.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <openssl/rc4.h>
#include <openssl/sha.h>

namespace qb {

bool Sha1(const void* data, size_t length, uint8_t digest[20]) {
  return ::SHA1(static_cast<const unsigned char*>(data), length, digest) != nullptr;
}

bool Rc4Apply(const uint8_t* key, size_t keyLength, uint8_t* buffer, size_t length) {
  if (keyLength == 0 || keyLength > 256) return false;
  RC4_KEY schedule;
  ::RC4_set_key(&schedule, static_cast<int>(keyLength), key);
  ::RC4(&schedule, length, buffer, buffer);
  return true;
}

bool ConstantTimeEqual(const void* a, const void* b, size_t length) {
  return ::CRYPTO_memcmp(a, b, length) == 0;
}

void SecureZero(void* data, size_t length) { ::OPENSSL_cleanse(data, length); }

bool RandomBytes(uint8_t* data, size_t length) {
  return length <= static_cast<size_t>(INT32_MAX) && RAND_bytes(data, static_cast<int>(length)) == 1;
}

std::string RandomHex(size_t bytes) {
  std::string raw(bytes, '\0');
  if (!RandomBytes(reinterpret_cast<uint8_t*>(raw.data()), bytes)) return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes * 2);
  for (unsigned char c : raw) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  SecureZero(raw.data(), raw.size());
  return hex;
}

}  // namespace qb
