// An open page file: a raw page's temporary file, which the fax coder
// writes into, or the staging file of a file sent whole. The file is closed
// when its PageFile goes, so a job that ends in any way leaves no file open.
#pragma once

#include <cstddef>
#include <cstdio>
#include <utility>

namespace qb {

class PageFile {
 public:
  PageFile() = default;
  // Takes over `file` (may be null: not open).
  explicit PageFile(std::FILE* file) : file_(file) {}
  ~PageFile() { Close(); }

  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;
  PageFile(PageFile&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}
  PageFile& operator=(PageFile&& other) noexcept {
    if (this != &other) {
      Close();
      file_ = std::exchange(other.file_, nullptr);
    }
    return *this;
  }

  bool IsOpen() const { return file_ != nullptr; }
  // The open stream, for readers that take one (null when not open).
  std::FILE* Stream() const { return file_; }

  // Bytes written; 0 when not open.
  size_t Write(const void* data, size_t size) {
    return file_ != nullptr ? std::fwrite(data, 1, size, file_) : 0;
  }
  void Flush() {
    if (file_ != nullptr) std::fflush(file_);
  }
  void Rewind() {
    if (file_ != nullptr) std::rewind(file_);
  }
  void Close() {
    if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
  }

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace qb
