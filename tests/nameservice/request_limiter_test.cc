#include "nameservice/request_limiter.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

int Admitted(RequestLimiter& limiter, uint32_t address, int tries, int64_t nowMs) {
  int admitted = 0;
  for (int i = 0; i < tries; ++i) admitted += limiter.Admit(address, nowMs) ? 1 : 0;
  return admitted;
}

TEST(RequestLimiter, TenPerAddressAndTwoHundredInAllEachSecond) {
  RequestLimiter limiter;
  EXPECT_EQ(Admitted(limiter, 0x0A000001, 3000, 5000), 10);
  EXPECT_EQ(limiter.TakeRefused(), 2990u);
  EXPECT_EQ(limiter.TakeRefused(), 0u);
  // Others are still heard within the same second, up to the total.
  int others = 0;
  for (uint32_t a = 2; a < 100; ++a) others += Admitted(limiter, 0x0A000000 + a, 5, 5999);
  EXPECT_EQ(others, 190);
  EXPECT_EQ(Admitted(limiter, 0x0A0000FF, 1, 5999), 0);
  // The next second starts afresh for everyone.
  EXPECT_EQ(Admitted(limiter, 0x0A000001, 20, 6000), 10);
  EXPECT_EQ(Admitted(limiter, 0x0A000063, 20, 6000), 10);
}

TEST(RequestLimiter, ManyAddressesThatCollideAreEachCountedOnTheirOwn) {
  RequestLimiter limiter;
  int admitted = 0;
  // Addresses 512 apart share a hash slot start often; each gets its ten.
  for (uint32_t i = 0; i < 20; ++i) admitted += Admitted(limiter, i * 512u, 12, 0);
  EXPECT_EQ(admitted, 200);
  EXPECT_EQ(limiter.TakeRefused(), 40u);
}

}  // namespace
}  // namespace qb
