// A ReadableFile over bytes in memory: for checks run on data that is not
// (or not yet) a file, and for tests and fuzz targets.
#pragma once

#include <cstring>
#include <string>

#include "platform/env.h"

namespace qb {

class StringFile final : public ReadableFile {
 public:
  explicit StringFile(std::string bytes) : bytes_(std::move(bytes)) {}

  FileResult ReadAt(uint64_t offset, void* out, size_t length, size_t* got) const override {
    *got = 0;
    if (offset < bytes_.size()) {
      *got = std::min<uint64_t>(length, bytes_.size() - offset);
      std::memcpy(out, bytes_.data() + offset, *got);
    }
    return {};
  }
  uint64_t Size() const override { return bytes_.size(); }

 private:
  const std::string bytes_;
};

}  // namespace qb
