// What the receiver asks of the world outside the process: the clocks,
// free disk space, files and folders, and socket sends (plain or TLS).
// Code that needs one of these takes an Env, so a test can move time, fill
// the disk, make a file operation or a send fail on purpose, or cut the
// power in the middle of a save (see fault_env.h) instead of waiting for it
// to happen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/disk.h"
#include "platform/files.h"
#include "platform/tls.h"

namespace qb {

enum class FileError {
  kNone,
  kNotFound,
  kExists,
  kNoSpace,
  kDenied,
  kIsFolder,
  kOtherVolume,  // a rename between two file systems
  kOther
};

// The outcome of a file operation: success, or the kind of failure and the
// system's words for it (for the trace and the user).
class FileResult {
 public:
  FileResult() = default;  // success
  static FileResult FromSystemError(int systemError);
  static FileResult Failed(FileError error);

  bool ok() const { return error_ == FileError::kNone; }
  explicit operator bool() const { return ok(); }
  FileError error() const { return error_; }
  // E.g. "No space left on device"; empty on success.
  std::string Reason() const;

 private:
  FileError error_ = FileError::kNone;
  int system_error_ = 0;  // 0 when made by Failed
};

// A file written from start to end. The destructor closes it without a
// sync; a caller that must know the data reached the disk calls Sync, one
// that must know the close worked calls Close.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Takes all of `data` or reports why not.
  virtual FileResult Append(const void* data, size_t length) = 0;
  // Makes the content appended so far durable.
  virtual FileResult Sync() = 0;
  // Reports a failed close; a second call returns the first one's result.
  virtual FileResult Close() = 0;
  // Bytes in the file, those appended included.
  virtual uint64_t Size() const = 0;
};

// A file read at any offset; safe to use from several threads.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to `length` bytes at `offset`; `*got` is less only at the end
  // of the file.
  virtual FileResult ReadAt(uint64_t offset, void* out, size_t length, size_t* got) const = 0;
  virtual uint64_t Size() const = 0;
};

// kNewOnly fails with kExists when the name is taken; kTruncate empties an
// existing file; kAppend writes after its content.
enum class CreateMode { kNewOnly, kTruncate, kAppend };

struct FileInfo {
  uint64_t size = 0;
  bool isFolder = false;
  bool isRegular = false;
  bool linksToFolder = false;  // a symbolic link whose target is a folder
  int64_t modifiedNs = 0;      // since 1970
};

class Env {
 public:
  virtual ~Env() = default;

  // The real one: system clocks, the volume, the kernel's files and sockets.
  static Env& Default();

  // Monotonic milliseconds; only differences mean anything (timers).
  virtual int64_t NowMs() const;
  // Seconds since 1970 (lock-out times).
  virtual int64_t WallSeconds() const;
  // The longest a thread may wait on the system before it looks at NowMs
  // again (-1: as long as its time-out says). A clock that tests move by
  // hand jumps, so waits measured on it must look often.
  virtual int64_t LongestWaitMs() const { return -1; }
  // Space of the volume holding `path`; false when it cannot be queried.
  virtual bool QueryDiskSpace(const std::string& path, DiskSpace* space) const;
  // As SockSend: bytes taken, or -1 with LastSocketError set.
  virtual long Send(int socket, const void* data, size_t length);
  // As TlsSession::Write (the FTP server's protected sends).
  virtual TlsResult TlsWrite(TlsSession& session, const void* data, int length);

  // Files and folders. A created file gets mode 0660 whatever the umask
  // (the account and its group); a symbolic link at `path` is refused.
  virtual FileResult NewWritableFile(const std::string& path, CreateMode mode,
                                     std::unique_ptr<WritableFile>* file);
  // The same for a writer that gathers its bytes itself (the fax coder's
  // out buffer): each Append goes to the kernel at once, and the file holds
  // no buffer of its own, which a printer's open page would otherwise cost.
  virtual FileResult NewUnbufferedFile(const std::string& path, CreateMode mode,
                                       std::unique_ptr<WritableFile>* file);
  // A new file (as kNewOnly) that is written once, from start to end, as
  // fast as a network delivers it, and read only once it is closed: an
  // upload. The data goes to the disk while it arrives rather than in one
  // long sync at the end, and without a copy through the page cache where
  // the volume allows it.
  virtual FileResult NewStreamFile(const std::string& path, std::unique_ptr<WritableFile>* file);
  virtual FileResult OpenReadable(const std::string& path, std::unique_ptr<ReadableFile>* file);
  // Makes the folder's entries (files created, renamed, removed) durable.
  virtual FileResult SyncFolder(const std::string& path);
  // Fails with kExists when `to` exists already.
  virtual FileResult RenameNoReplace(const std::string& from, const std::string& to);
  // Replaces an existing `to`.
  virtual FileResult Rename(const std::string& from, const std::string& to);
  virtual FileResult Remove(const std::string& path);  // a file or an empty folder
  // The entries except "." and ".."; `*entries` is replaced.
  virtual FileResult ListFolder(const std::string& path, std::vector<FolderEntry>* entries);
  // The entry itself: a symbolic link is not followed.
  virtual FileResult Stat(const std::string& path, FileInfo* info);
  // Mode 2770 (the account and its group) whatever the umask; fails with
  // kExists when the name is taken.
  virtual FileResult CreateFolder(const std::string& path);
};

// Writes all of `data` to a new or emptied file at `path`, syncs it when
// `sync`, and closes it.
FileResult WriteWholeFile(Env& env, const std::string& path, const std::string& data, bool sync);
// Reads the whole file at `path` into `*data`.
FileResult ReadWholeFile(Env& env, const std::string& path, std::string* data);
// Copies the whole file `from` into a new or emptied file `to`, without a
// sync; on failure `to` may hold part of it.
FileResult CopyFile(Env& env, const std::string& from, const std::string& to);
// Gives `from` the name `to`, replacing it. Between two file systems, where
// no rename can, the bytes are copied to `to` and `from` is removed; the
// copy is not synced (the caller's commit does that).
FileResult MoveFile(Env& env, const std::string& from, const std::string& to);

}  // namespace qb
