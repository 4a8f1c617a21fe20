// Builds meta data records for tests: a tag, the header fields and texts
// placed after the 26-byte header, with their offsets filled in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb::testing {

class MetaRecordBuilder {
 public:
  explicit MetaRecordBuilder(const std::string& tag) : bytes_(26, 0) {
    for (size_t i = 0; i < tag.size() && i < 9; ++i) bytes_[i] = static_cast<uint8_t>(tag[i]);
  }
  MetaRecordBuilder& Length(uint16_t length) { return Put16(10, length); }
  MetaRecordBuilder& Number(uint16_t number) { return Put16(12, number); }
  // Text T<index> with its NUL.
  MetaRecordBuilder& Text(int index, const std::string& text) {
    Put16(14 + 2 * index, static_cast<uint16_t>(bytes_.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    bytes_.push_back(0);
    return *this;
  }
  MetaRecordBuilder& Offset(int index, uint16_t offset) { return Put16(14 + 2 * index, offset); }
  std::vector<uint8_t> Bytes() const { return bytes_; }

 private:
  MetaRecordBuilder& Put16(size_t at, uint16_t value) {
    bytes_[at] = static_cast<uint8_t>(value >> 8);
    bytes_[at + 1] = static_cast<uint8_t>(value & 0xFF);
    return *this;
  }
  std::vector<uint8_t> bytes_;
};

}  // namespace qb::testing
