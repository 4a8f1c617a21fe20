// A heap copy of exactly the input's bytes, never a null pointer (an empty
// input is a zero-sized allocation), so that the address sanitizer sees
// any read past the bytes that arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace qb::fuzz {

class ExactCopy {
 public:
  ExactCopy(const uint8_t* data, size_t size) : bytes_(new uint8_t[size]), size_(size) {
    if (size != 0) std::memcpy(bytes_.get(), data, size);
  }
  uint8_t* data() { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  size_t size_;
};

}  // namespace qb::fuzz
