#include "ftp/save_file.h"

#include <cstdio>
#include <cstring>

#include "config/folders.h"
#include "platform/file_lookup.h"

namespace qb {

// ---- TempSaveFile ----

bool TempSaveFile::OpenTempFile() {
  // Appends after a Finish (a reader wanted the bytes) go on in the file.
  if (!temp_name_.empty())
    return env_.NewWritableFile(temp_name_, CreateMode::kAppend, &file_).ok();
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name;
    if (!RandomTempName(TempFolderPath(), kReceivedFileTempPrefix, &name)) return false;
    const FileResult made = env_.NewWritableFile(name, CreateMode::kNewOnly, &file_);
    if (made.ok()) {
      temp_name_ = name;
      return true;
    }
    if (made.error() != FileError::kExists) return false;
  }
  return false;
}

TempSaveFile::TempSaveFile(const char* path, Env& env) : env_(env) { SetPath(path); }

TempSaveFile::~TempSaveFile() {
  // Nothing else ever deletes the temporary file: a discarded transfer
  // leaves no TXQB file behind.
  file_.reset();
  if (!temp_name_.empty()) env_.Remove(temp_name_);
}

const char* TempSaveFile::GetPath() { return path_ ? path_->c_str() : nullptr; }

const char* TempSaveFile::GetTempName() { return temp_name_.c_str(); }

void TempSaveFile::SetPath(const char* path) {
  path_.reset(path != nullptr ? new std::string(path) : nullptr);
}

bool TempSaveFile::Write(const void* data, uint32_t length) {
  if (file_ == nullptr && !OpenTempFile()) return false;
  if (!file_->Append(data, length).ok()) return false;
  size_ += length;
  return true;
}

bool TempSaveFile::Finish() {
  if (file_ == nullptr) return true;
  const bool closed = file_->Close().ok();
  file_.reset();
  return closed;
}

bool TempSaveFile::ReadAll(void* out) {
  if (size_ == 0) return true;
  if (!Finish()) return false;  // what the writer still holds goes to the file first
  std::unique_ptr<ReadableFile> file;
  size_t got = 0;
  return env_.OpenReadable(temp_name_, &file).ok() && file->ReadAt(0, out, size_, &got).ok() &&
         got == size_;
}

bool TempSaveFile::Save() {
  // An empty received file is never saved.
  if (size_ == 0 || !path_ || !Finish()) return false;
  return CopyFile(env_, temp_name_, *path_).ok();
}

// ---- StagedSaveFile ----

std::unique_ptr<StagedSaveFile> StagedSaveFile::Start(const char* path, DocumentFiles& staged,
                                                      FileResult* why) {
  std::string folder = path;
  const size_t slash = folder.rfind('/');
  folder.resize(slash == std::string::npos ? 0 : slash);
  std::unique_ptr<WritableFile> file;
  std::string staging = staged.BeginUnnamed(folder, &file, why);
  if (staging.empty()) return nullptr;
  return std::unique_ptr<StagedSaveFile>(
      new StagedSaveFile(path, staged, std::move(staging), std::move(file)));
}

StagedSaveFile::StagedSaveFile(const char* path, DocumentFiles& staged, std::string staging,
                               std::unique_ptr<WritableFile> file)
    : staged_(staged),
      env_(staged.env()),
      path_(path),
      staging_(std::move(staging)),
      file_(std::move(file)) {}

StagedSaveFile::~StagedSaveFile() {
  file_.reset();
  staged_.Drop(staging_);
}

bool StagedSaveFile::Write(const void* data, uint32_t length) {
  if (file_ == nullptr || !file_->Append(data, length).ok()) return false;
  size_ += length;
  return true;
}

bool StagedSaveFile::Finish() {
  if (file_ == nullptr) return false;
  const bool closed = file_->Close().ok();
  file_.reset();
  return closed;
}

bool StagedSaveFile::ReadAll(void* out) {
  std::unique_ptr<ReadableFile> file;
  if (!env_.OpenReadable(staging_, &file).ok()) return false;
  size_t got = 0;
  return file->ReadAt(0, out, size_, &got).ok() && got == size_;
}

// ---- MemorySaveFile ----

MemorySaveFile::MemorySaveFile(const char* path, uint64_t limit) : limit_(limit) { SetPath(path); }

MemorySaveFile::~MemorySaveFile() = default;

const char* MemorySaveFile::GetPath() { return path_ ? path_->c_str() : nullptr; }

void MemorySaveFile::SetPath(const char* path) {
  path_.reset(path != nullptr ? new std::string(path) : nullptr);
}

bool MemorySaveFile::Write(const void* data, uint32_t length) {
  if (dropped_ > 0 || GetSize() + length > limit_) {
    dropped_ += length;
    return true;
  }
  if (chunks_.empty()) chunks_.emplace_back(new uint8_t[kChunkSize]);
  const auto* from = static_cast<const uint8_t*>(data);
  while (length > 0) {
    uint32_t take = kChunkSize - used_;
    if (take > length) take = length;
    std::memcpy(chunks_.back().get() + used_, from, take);
    used_ += take;
    from += take;
    length -= take;
    // A chunk that has just filled gets an empty successor at once, even
    // when no byte follows: the size counts every chunk with a successor
    // as full.
    if (used_ == kChunkSize) {
      chunks_.emplace_back(new uint8_t[kChunkSize]);
      used_ = 0;
    }
  }
  return true;
}

uint64_t MemorySaveFile::GetSize() {
  if (chunks_.empty()) return dropped_;
  return static_cast<uint64_t>(chunks_.size() - 1) * kChunkSize + used_ + dropped_;
}

bool MemorySaveFile::ReadAll(void* out) {
  if (dropped_ > 0) return false;
  auto* to = static_cast<uint8_t*>(out);
  for (size_t i = 0; i < chunks_.size(); ++i) {
    const uint32_t part = i + 1 < chunks_.size() ? kChunkSize : used_;
    std::memcpy(to, chunks_[i].get(), part);
    to += part;
  }
  return true;
}

}  // namespace qb
