// FaultEnv's files and folders: the real ones, with their history kept for
// a simulated power loss and a switch that stops them all.
#include "platform/fault_env.h"
#include "platform/posix_file.h"

namespace qb {

// Writes go to the kernel at once (no buffer): a crash must find on the
// disk every byte appended, so that it can take back the unsynced ones,
// and a buffer flushed after a crash would write into a file cut short.
class FaultEnv::File final : public WritableFile {
 public:
  File(FaultEnv* env, std::unique_ptr<WritableFile> file,
       std::shared_ptr<CrashRecord::FileState> state)
      : env_(env),
        file_(std::move(file)),
        state_(std::move(state)),
        generation_(env->generation_) {}

  FileResult Append(const void* data, size_t length) override {
    std::lock_guard<std::mutex> lock(env_->files_mutex_);
    if (FileResult alive = env_->BeginFileOp(generation_); !alive) return alive;
    if (env_->TakeWriteFailure()) return FileResult::Failed(FileError::kNoSpace);
    FileResult result = file_->Append(data, length);
    state_->size = file_->Size();
    return result;
  }

  FileResult Sync() override {
    std::lock_guard<std::mutex> lock(env_->files_mutex_);
    if (FileResult alive = env_->BeginFileOp(generation_); !alive) return alive;
    FileResult result = file_->Sync();
    if (result) state_->synced = state_->size;
    return result;
  }

  FileResult Close() override {
    std::lock_guard<std::mutex> lock(env_->files_mutex_);
    if (closed_) return close_result_;
    closed_ = true;
    close_result_ = env_->BeginFileOp(generation_);
    // The descriptor goes in any case; a dead process's close writes nothing.
    FileResult closed = file_->Close();
    if (close_result_) close_result_ = closed;
    return close_result_;
  }

  uint64_t Size() const override { return file_->Size(); }

 private:
  FaultEnv* const env_;
  std::unique_ptr<WritableFile> file_;
  std::shared_ptr<CrashRecord::FileState> state_;
  const uint64_t generation_;
  bool closed_ = false;
  FileResult close_result_;
};

class FaultEnv::Reader final : public ReadableFile {
 public:
  Reader(FaultEnv* env, std::unique_ptr<ReadableFile> file)
      : env_(env), file_(std::move(file)), generation_(env->generation_) {}

  FileResult ReadAt(uint64_t offset, void* out, size_t length, size_t* got) const override {
    *got = 0;
    {
      std::lock_guard<std::mutex> lock(env_->files_mutex_);
      if (FileResult alive = env_->BeginFileOp(generation_); !alive) return alive;
    }
    return file_->ReadAt(offset, out, length, got);
  }

  uint64_t Size() const override { return file_->Size(); }

 private:
  FaultEnv* const env_;
  std::unique_ptr<ReadableFile> file_;
  const uint64_t generation_;
};

FileResult FaultEnv::BeginFileOp(uint64_t generation) {
  ++op_count_;
  if (generation != generation_ || ops_left_ == 0) return FileResult::Failed(FileError::kOther);
  if (ops_left_ > 0) --ops_left_;
  return {};
}

void FaultEnv::SimulateCrash() {
  std::lock_guard<std::mutex> lock(files_mutex_);
  record_.Crash();
  ++generation_;
  ops_left_ = -1;
}

void FaultEnv::CrashAfterFileOps(int n) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  ops_left_ = n < 0 ? -1 : n;
}

int64_t FaultEnv::FileOpCount() const {
  std::lock_guard<std::mutex> lock(files_mutex_);
  return op_count_;
}

FileResult FaultEnv::NewWritableFile(const std::string& path, CreateMode mode,
                                     std::unique_ptr<WritableFile>* file) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  if (FileResult alive = BeginFileOp(); !alive) return alive;
  FileInfo before;
  const bool existed = Env::Stat(path, &before).ok();
  std::unique_ptr<WritableFile> real;
  FileResult result = OpenPosixWritable(path, mode, 0, &real);
  if (!result) return result;
  auto state =
      record_.Opened(path, existed, existed && mode == CreateMode::kTruncate, real->Size());
  *file = std::make_unique<File>(this, std::move(real), std::move(state));
  return {};
}

FileResult FaultEnv::OpenReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  if (FileResult alive = BeginFileOp(); !alive) return alive;
  std::unique_ptr<ReadableFile> real;
  FileResult result = Env::OpenReadable(path, &real);
  if (result) *file = std::make_unique<Reader>(this, std::move(real));
  return result;
}

FileResult FaultEnv::SyncFolder(const std::string& path) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  if (FileResult alive = BeginFileOp(); !alive) return alive;
  FileResult result = Env::SyncFolder(path);
  if (result) record_.FolderSynced(path);
  return result;
}

FileResult FaultEnv::RenameNoReplace(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  if (FileResult alive = BeginFileOp(); !alive) return alive;
  FileResult result = Env::RenameNoReplace(from, to);
  if (result) record_.Renamed(from, to, std::nullopt);
  return result;
}

FileResult FaultEnv::Rename(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  if (FileResult alive = BeginFileOp(); !alive) return alive;
  // The file about to be replaced, to bring back if the rename is undone.
  std::optional<std::string> replaced;
  FileInfo target;
  if (Env::Stat(to, &target) && target.isRegular) {
    std::string content;
    if (ReadWholeFile(Env::Default(), to, &content)) {
      replaced = std::move(content);
    }
  }
  FileResult result = Env::Rename(from, to);
  if (result) record_.Renamed(from, to, std::move(replaced));
  return result;
}

FileResult FaultEnv::Remove(const std::string& path) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  if (FileResult alive = BeginFileOp(); !alive) return alive;
  FileResult result = Env::Remove(path);
  if (result) record_.Removed(path);
  return result;
}

FileResult FaultEnv::ListFolder(const std::string& path, std::vector<FolderEntry>* entries) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  if (FileResult alive = BeginFileOp(); !alive) return alive;
  return Env::ListFolder(path, entries);
}

FileResult FaultEnv::Stat(const std::string& path, FileInfo* info) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  if (FileResult alive = BeginFileOp(); !alive) return alive;
  return Env::Stat(path, info);
}

FileResult FaultEnv::CreateFolder(const std::string& path) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  if (FileResult alive = BeginFileOp(); !alive) return alive;
  return Env::CreateFolder(path);
}

}  // namespace qb
