// An Env for tests: a clock that moves only when told, faults on demand (a
// send that fails or is taken only in part, a full disk, a file write that
// fails) and a power loss at any step of a save (SimulateCrash,
// CrashAfterFileOps). Whatever is not faked goes to the real Env, files
// and folders included: tests work in a real temporary folder.
// Thread-safe: receivers in tests run on their own threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/crash_record.h"
#include "platform/env.h"

namespace qb {

class FaultEnv final : public Env {
 public:
  // With `manualClock` false the clocks are the real ones (and Advance
  // does nothing): for measurements that only need the faults.
  explicit FaultEnv(bool manualClock = true) : manual_clock_(manualClock) {}

  int64_t NowMs() const override { return manual_clock_ ? now_ms_.load() : Env::NowMs(); }
  int64_t WallSeconds() const override {
    return manual_clock_ ? wall_seconds_.load() : Env::WallSeconds();
  }
  int64_t LongestWaitMs() const override { return manual_clock_ ? 10 : -1; }
  bool QueryDiskSpace(const std::string& path, DiskSpace* space) const override;
  long Send(int socket, const void* data, size_t length) override;
  TlsResult TlsWrite(TlsSession& session, const void* data, int length) override;

  FileResult NewWritableFile(const std::string& path, CreateMode mode,
                             std::unique_ptr<WritableFile>* file) override;
  // Recorded as any other new file: what a crash keeps depends on the
  // syncs, not on how the bytes travelled.
  // Its files are all unbuffered already.
  FileResult NewUnbufferedFile(const std::string& path, CreateMode mode,
                               std::unique_ptr<WritableFile>* file) override {
    return NewWritableFile(path, mode, file);
  }
  FileResult NewStreamFile(const std::string& path, std::unique_ptr<WritableFile>* file) override {
    return NewWritableFile(path, CreateMode::kNewOnly, file);
  }
  FileResult OpenReadable(const std::string& path, std::unique_ptr<ReadableFile>* file) override;
  FileResult SyncFolder(const std::string& path) override;
  FileResult RenameNoReplace(const std::string& from, const std::string& to) override;
  FileResult Rename(const std::string& from, const std::string& to) override;
  FileResult Remove(const std::string& path) override;
  FileResult ListFolder(const std::string& path, std::vector<FolderEntry>* entries) override;
  FileResult Stat(const std::string& path, FileInfo* info) override;
  FileResult CreateFolder(const std::string& path) override;

  // Moves both clocks.
  void AdvanceMs(int64_t ms) {
    now_ms_ += ms;
    wall_seconds_ = wall_base_ + (now_ms_.load() - kStartMs) / 1000;
  }
  void AdvanceSeconds(int64_t seconds) { AdvanceMs(seconds * 1000); }

  // Every volume reports `bytes` free (of a 1 TB volume); nullopt: the real figures.
  void SetFreeBytes(std::optional<uint64_t> bytes);
  // The `nth` send on `socket` from now (1 = the next) fails as a reset
  // connection would; 0 turns it off.
  void FailSend(int socket, int nth);
  // Each send hands the kernel at most `bytes` (0: no limit), as a socket
  // with little room takes only part of a send.
  void LimitSends(size_t bytes) { send_limit_ = bytes; }
  // The `nth` file write from now (an Append, or a Write to a C library
  // stream) fails as a full disk would (it writes nothing, kNoSpace); 0
  // turns it off.
  void FailWrite(int nth) { writes_until_failure_ = nth; }
  // The `nth` TLS write from now fails as one on a reset connection would
  // (SSL_ERROR_SYSCALL, nothing written); 0 turns it off.
  void FailTlsWrite(int nth) { tls_writes_until_failure_ = nth; }

  // The power goes: every file written through this Env keeps only the
  // bytes synced, files created since their folder's last sync vanish, and
  // renames whose target folder was not synced since are undone (a file
  // replaced by one comes back). Then the Env starts afresh, as the next
  // process would: files opened before fail every call, nothing planned by
  // CrashAfterFileOps remains, and what is on the disk now counts as
  // durable.
  void SimulateCrash();
  // After `n` more file operations (opens, appends, syncs, closes, renames,
  // removals, listings, stats, reads; 0: none) every further one fails, as
  // a dead process does nothing more. A test crashes at each step of a save
  // by looping n = 0, 1, 2, ... with SimulateCrash after each run.
  void CrashAfterFileOps(int n);
  // File operations made since construction (to find how many steps a
  // save takes).
  int64_t FileOpCount() const;

 private:
  static constexpr int64_t kStartMs = 1000000;
  const bool manual_clock_;
  std::atomic<int64_t> now_ms_{kStartMs};
  const int64_t wall_base_ = 1700000000;
  std::atomic<int64_t> wall_seconds_{wall_base_};

  mutable std::mutex mutex_;
  std::optional<uint64_t> free_bytes_;
  int failing_socket_ = -1;
  int sends_until_failure_ = 0;
  std::atomic<size_t> send_limit_{0};
  std::atomic<int> writes_until_failure_{0};
  std::atomic<int> tls_writes_until_failure_{0};

  class File;
  class Reader;
  // Counts the operation; fails it when the process is dead or `generation`
  // is from before the last crash.
  FileResult BeginFileOp(uint64_t generation);
  FileResult BeginFileOp() { return BeginFileOp(generation_); }
  bool TakeWriteFailure();

  mutable std::mutex files_mutex_;  // held around every file operation
  CrashRecord record_;
  uint64_t generation_ = 0;
  int ops_left_ = -1;  // -1: no crash planned
  int64_t op_count_ = 0;
};

}  // namespace qb
