// An upload's file: written once from start to end while the network
// delivers it, synced at the end, and read only after that.
//
// A write(2) into the page cache copies every byte once more on the
// receiving thread (about a second of CPU per gigabyte here), and the
// data then still has to reach the disk before the sync returns. This
// file instead gathers the bytes in aligned blocks that go to the disk
// directly (O_DIRECT) from a writer thread of its own, while the next
// block fills: the receiving thread only copies into the block, and the
// disk works during the transfer, not after it.
//
// Where the volume refuses direct writes (tmpfs, some network file
// systems), the same blocks go through the page cache instead. The tail
// that does not fill an aligned block is written through the page cache
// as well, and Sync always ends with fdatasync(2): a direct write is not
// durable on its own, since the device may cache it.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/posix_file.h"

namespace qb {
namespace {

constexpr size_t kAlignment = 4096;  // of memory, offsets and lengths

// A block is written at a time, and one direct write keeps the disk busy
// only as far as it is long: measured here, 1 MiB writes reach about half
// the disk's rate, 4 MiB ones 80-90 % and 8 MiB ones nearly all of it. Two
// 8 MiB blocks per upload would be a lot for thousands of small ones, so
// a file starts with 1 MiB blocks and, once it has shown itself large,
// moves to 8 MiB ones, as long as no more than kMaxLargeFiles files hold
// large blocks (64 MiB in all).
constexpr size_t kSmallBlockBytes = size_t{1} << 20;
constexpr size_t kLargeBlockBytes = size_t{8} << 20;
constexpr uint64_t kLargeFromBytes = uint64_t{16} << 20;
constexpr int kMaxLargeFiles = 4;
std::atomic<int> g_largeFiles{0};

bool TakeLargeTurn() {
  int holders = g_largeFiles.load(std::memory_order_relaxed);
  while (holders < kMaxLargeFiles) {
    if (g_largeFiles.compare_exchange_weak(holders, holders + 1)) return true;
  }
  return false;
}

struct FreeBlock {
  void operator()(char* block) const { std::free(block); }
};
using Block = std::unique_ptr<char, FreeBlock>;

Block NewBlock(size_t bytes) {
  return Block(static_cast<char*>(std::aligned_alloc(kAlignment, bytes)));
}

// 0, or the errno of the write that failed.
int WriteAllAt(int fd, const char* data, size_t length, uint64_t offset) {
  while (length > 0) {
    const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return 0;
}

class PosixStreamFile final : public WritableFile {
 public:
  PosixStreamFile(int fd, bool direct, Block first, Block second)
      : fd_(fd), direct_(direct), blocks_{std::move(first), std::move(second)} {}

  ~PosixStreamFile() override {
    Close();
    if (block_bytes_ == kLargeBlockBytes) g_largeFiles.fetch_sub(1);
  }

  FileResult Append(const void* data, size_t length) override {
    if (fd_ < 0) return FileResult::FromSystemError(EBADF);
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
      const size_t room = block_bytes_ - used_;
      const size_t taken = length < room ? length : room;
      std::memcpy(blocks_[filling_].get() + used_, bytes, taken);
      used_ += taken;
      size_ += taken;
      bytes += taken;
      length -= taken;
      if (used_ == block_bytes_) {
        if (FileResult handed = HandOver(); !handed) return handed;
        if (block_bytes_ == kSmallBlockBytes && handed_ >= kLargeFromBytes) GrowBlocks();
      }
    }
    return {};
  }

  FileResult Sync() override {
    if (fd_ < 0) return FileResult::FromSystemError(EBADF);
    if (FileResult written = WriteTail(); !written) return written;
    return SyncDescriptor(fd_);
  }

  FileResult Close() override {
    if (fd_ < 0) return close_result_;
    FileResult written = WriteTail();
    StopWriter();
    close_result_ = CloseDescriptor(fd_, written);
    fd_ = -1;
    return close_result_;
  }

  uint64_t Size() const override { return size_; }

 private:
  // The full block goes to the writer, and the other one (once the writer
  // is done with it) becomes the one that fills.
  FileResult HandOver() {
    if (!writer_.joinable()) writer_ = std::thread([this] { WriterLoop(); });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
    if (!error_.ok()) return error_;
    pending_ = true;
    pending_block_ = filling_;
    pending_offset_ = handed_;
    pending_length_ = used_;
    handed_ += used_;
    filling_ = 1 - filling_;
    used_ = 0;
    changed_.notify_all();
    return {};
  }

  void WriterLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return pending_ || stopping_; });
      if (!pending_) return;
      const char* block = blocks_[pending_block_].get();
      const uint64_t offset = pending_offset_;
      const size_t length = pending_length_;
      lock.unlock();
      FileResult written = WriteBlock(block, length, offset);
      lock.lock();
      if (!written && error_.ok()) error_ = written;
      pending_ = false;
      changed_.notify_all();
    }
  }

  // A volume may take O_DIRECT at open and still refuse the write itself:
  // the block is then written through the page cache, and so is the rest.
  FileResult WriteBlock(const char* block, size_t length, uint64_t offset) {
    int error = WriteAllAt(fd_, block, length, offset);
    if (error == EINVAL && direct_ && DropDirect()) error = WriteAllAt(fd_, block, length, offset);
    return error == 0 ? FileResult() : FileResult::FromSystemError(error);
  }

  bool DropDirect() {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) != 0) return false;
    direct_ = false;
    return true;
  }

  // Swaps both blocks for large ones once the writer is done with its
  // block; the filling one is empty right after a hand-over. Without a
  // turn or the memory, the file goes on with what it has.
  void GrowBlocks() {
    if (!TakeLargeTurn()) return;
    Block first = NewBlock(kLargeBlockBytes);
    Block second = NewBlock(kLargeBlockBytes);
    if (first == nullptr || second == nullptr) {
      g_largeFiles.fetch_sub(1);
      return;
    }
    WaitForWriter();
    blocks_[0] = std::move(first);
    blocks_[1] = std::move(second);
    block_bytes_ = kLargeBlockBytes;
  }

  void WaitForWriter() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
  }

  void StopWriter() {
    if (!writer_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      changed_.notify_all();
    }
    writer_.join();
  }

  // What the filling block holds: its aligned part directly, the rest
  // through the page cache (a direct write must be a whole number of
  // aligned units). Later appends, which no longer start on an aligned
  // offset, then all go through the page cache.
  FileResult WriteTail() {
    WaitForWriter();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!error_.ok()) return error_;
    }
    if (used_ == 0) return {};
    const char* block = blocks_[filling_].get();
    const size_t aligned = direct_ ? used_ / kAlignment * kAlignment : 0;
    if (aligned > 0) {
      if (FileResult written = WriteBlock(block, aligned, handed_); !written) return written;
    }
    if (aligned < used_) {
      if (direct_ && !DropDirect()) return FileResult::FromSystemError(errno);
      const int error = WriteAllAt(fd_, block + aligned, used_ - aligned, handed_ + aligned);
      if (error != 0) return FileResult::FromSystemError(error);
    }
    // The next block starts where this one ended; its start is aligned
    // only if the tail was, and a direct write needs that.
    handed_ += used_;
    if (handed_ % kAlignment != 0 && direct_ && !DropDirect()) {
      return FileResult::FromSystemError(errno);
    }
    used_ = 0;
    return {};
  }

  int fd_;
  bool direct_;  // changed by the writer only while the appending side waits
  Block blocks_[2];
  size_t block_bytes_ = kSmallBlockBytes;  // of each block
  int filling_ = 0;
  size_t used_ = 0;        // bytes in the filling block
  uint64_t handed_ = 0;    // the file offset where the filling block starts
  uint64_t size_ = 0;
  FileResult close_result_;

  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool pending_ = false;  // a block is with the writer
  int pending_block_ = 0;
  uint64_t pending_offset_ = 0;
  size_t pending_length_ = 0;
  bool stopping_ = false;
  FileResult error_;  // the first failed write; every later call reports it
};

}  // namespace

FileResult OpenPosixStream(const std::string& path, std::unique_ptr<WritableFile>* file) {
  const int fd = OpenNewDescriptor(path);
  if (fd < 0) return FileResult::FromSystemError(errno);
  Block first = NewBlock(kSmallBlockBytes);
  Block second = NewBlock(kSmallBlockBytes);
  if (first == nullptr || second == nullptr) {
    ::close(fd);
    ::unlink(path.c_str());
    return FileResult::FromSystemError(ENOMEM);
  }
  // tmpfs, for one, refuses the flag: the blocks then go through the page
  // cache, still written while the next one fills.
  const int flags = ::fcntl(fd, F_GETFL);
  const bool direct = flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
  *file = std::make_unique<PosixStreamFile>(fd, direct, std::move(first), std::move(second));
  return {};
}

}  // namespace qb
