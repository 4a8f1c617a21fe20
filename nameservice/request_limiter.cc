#include "nameservice/request_limiter.h"

namespace qb {

void RequestLimiter::StartSecond(int64_t second) {
  second_ = second;
  admitted_ = 0;
}

bool RequestLimiter::Admit(uint32_t address, int64_t nowMs) {
  const int64_t second = nowMs / 1000;
  if (second != second_) StartSecond(second);
  if (admitted_ >= kTotalPerSecond) {
    ++refused_;
    return false;
  }
  // Linear probing: within one second slots are only ever taken, so an
  // address already counted is found before the first free slot.
  size_t index = (address * 2654435761u) & (kSlots - 1);
  for (size_t probe = 0; probe < kSlots; ++probe, index = (index + 1) & (kSlots - 1)) {
    Slot& slot = slots_[index];
    if (slot.second != second) {
      slot = Slot{address, second, 0};
    } else if (slot.address != address) {
      continue;
    }
    if (slot.count >= kPerAddressPerSecond) break;
    ++slot.count;
    ++admitted_;
    return true;
  }
  ++refused_;
  return false;
}

uint32_t RequestLimiter::TakeRefused() {
  const uint32_t refused = refused_;
  refused_ = 0;
  return refused;
}

}  // namespace qb
