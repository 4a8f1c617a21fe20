// How many name-service requests are answered (and recorded): a bound per
// claimed sender address and one for all together, per second. A datagram's
// sender address is whatever it claims, so without these a flood with
// forged senders would make us send replies to anyone, as fast as it comes.
// Fixed-size tables: deciding never allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qb {

class RequestLimiter {
 public:
  static constexpr uint32_t kPerAddressPerSecond = 10;
  static constexpr uint32_t kTotalPerSecond = 200;

  // Whether a request claiming `address` may be answered at `nowMs`
  // (monotonic milliseconds); counts it when it may, and as refused when not.
  bool Admit(uint32_t address, int64_t nowMs);
  // Requests refused since the last call.
  uint32_t TakeRefused();

 private:
  // More slots than requests a second can admit, so an address admitted in
  // the current second always finds its slot or a free one.
  static constexpr size_t kSlots = 512;
  static_assert(kSlots > kTotalPerSecond && (kSlots & (kSlots - 1)) == 0);

  struct Slot {
    uint32_t address = 0;
    int64_t second = -1;  // the second its count belongs to; another: free
    uint32_t count = 0;
  };

  void StartSecond(int64_t second);

  std::array<Slot, kSlots> slots_{};
  int64_t second_ = -1;
  uint32_t admitted_ = 0;  // in the current second
  uint32_t refused_ = 0;   // since TakeRefused
};

}  // namespace qb
