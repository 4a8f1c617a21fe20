#include "scanproto/cipher.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qb {
namespace {

std::string Hex(const uint8_t* data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 15];
  }
  return text;
}

// Expected values were computed with Python's hashlib and a textbook RC4
// written from the algorithm's description, independently of libcrypto.
TEST(Cipher, MatchesAnIndependentComputation) {
  uint8_t cap[8] = {0x34, 0x00, 0, 1, 0, 0, 0, 0};
  ASSERT_EQ(CipherBody("0-127.0.0.1-0", cap, sizeof cap, kEncipher), 1);
  EXPECT_EQ(Hex(cap, sizeof cap), "678910b02092c978");

  uint8_t text[] = "Quillbox direct port";
  ASSERT_EQ(CipherBody("513-192.168.1.20-977", text, 20, kEncipher), 1);
  EXPECT_EQ(Hex(text, 20), "b02cff2e97d546a574a6006ab13571ed52544e41");
}

TEST(Cipher, EachPacketStartsAFreshKeyStreamAndIsItsOwnInverse) {
  uint8_t first[16], second[16], original[16];
  for (int i = 0; i < 16; ++i) first[i] = second[i] = original[i] = static_cast<uint8_t>(i * 7);
  CipherBody("1-10.0.0.1-2", first, 16, kEncipher);
  CipherBody("1-10.0.0.1-2", second, 16, kEncipher);
  EXPECT_EQ(0, std::memcmp(first, second, 16));
  EXPECT_NE(0, std::memcmp(first, original, 16));
  CipherBody("1-10.0.0.1-2", first, 16, kDecipher);
  EXPECT_EQ(0, std::memcmp(first, original, 16));
}

TEST(Cipher, KeyTextUsesBothKeyNumbersAndThePeer) {
  ScanJob job(Env::Default());
  job.Clear();
  std::strcpy(job.peerIp, "192.168.1.20");
  EXPECT_EQ(CipherKeyText(job), "0-192.168.1.20-0");
  job.clientKeyNo = 513;
  job.serverKeyNo = 977;
  EXPECT_EQ(CipherKeyText(job), "513-192.168.1.20-977");
  EXPECT_EQ(CipherKeyTextServerZero(job), "513-192.168.1.20-0");
}

}  // namespace
}  // namespace qb
