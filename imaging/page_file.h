// An open page file: a raw page's temporary file, which the fax coder
// writes into, or the staging file of a file sent whole. Written through
// the Env; the file is closed when its PageFile goes, so a job that ends in
// any way leaves no file open.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "platform/env.h"

namespace qb {

class PageFile {
 public:
  PageFile() = default;
  // Opens `path` for writing from its start (`append` false) or after what
  // it holds; not open when that fails.
  static PageFile Open(Env& env, const std::string& path, bool append) {
    PageFile page;
    if (env.NewWritableFile(path, append ? CreateMode::kAppend : CreateMode::kTruncate, &page.file_)
            .ok()) {
      page.path_ = path;
    }
    return page;
  }

  // A new raw page's temporary file for the fax coder, which gathers its
  // code in its own out buffer: the file keeps no second buffer.
  static PageFile OpenForCoder(Env& env, const std::string& path) {
    PageFile page;
    if (env.NewUnbufferedFile(path, CreateMode::kTruncate, &page.file_).ok()) page.path_ = path;
    return page;
  }

  // Keeps what is written in `*bytes` instead (tools and tests that want
  // the coded bytes themselves).
  static PageFile InMemory(std::string* bytes) {
    PageFile page;
    page.file_ = std::make_unique<MemoryFile>(bytes);
    return page;
  }

  PageFile(PageFile&& other) noexcept = default;
  PageFile& operator=(PageFile&& other) noexcept = default;

  bool IsOpen() const { return file_ != nullptr; }
  // The file's path (kept after Close, for reading it back).
  const std::string& Path() const { return path_; }

  // Bytes written: all of them or, when the write failed, 0.
  size_t Write(const void* data, size_t size) {
    return file_ != nullptr && file_->Append(data, size).ok() ? size : 0;
  }
  // False when the bytes written could not all be put in the file.
  bool Close() {
    if (file_ == nullptr) return true;
    const bool closed = file_->Close().ok();
    file_.reset();
    return closed;
  }

 private:
  class MemoryFile final : public WritableFile {
   public:
    explicit MemoryFile(std::string* bytes) : bytes_(bytes) {}
    FileResult Append(const void* data, size_t length) override {
      bytes_->append(static_cast<const char*>(data), length);
      return {};
    }
    FileResult Sync() override { return {}; }
    FileResult Close() override { return {}; }
    uint64_t Size() const override { return bytes_->size(); }

   private:
    std::string* bytes_;
  };

  std::unique_ptr<WritableFile> file_;
  std::string path_;
};

}  // namespace qb
