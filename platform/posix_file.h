// The real files behind Env: descriptors written with write(2) and read
// with pread(2). Inside platform/ only; everything else goes through Env.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/env.h"

namespace qb {

// Opens `path` for writing as Env::NewWritableFile describes. Appends are
// gathered in a buffer of `bufferBytes` (0: each Append goes to the kernel
// at once, as the fault Env needs so that a crash finds what was written).
FileResult OpenPosixWritable(const std::string& path, CreateMode mode, size_t bufferBytes,
                             std::unique_ptr<WritableFile>* file);
// The steps both kinds of writable file share. OpenNewDescriptor creates
// `path` for writing (never through a symbolic link) with the group mode
// whatever the umask: the descriptor, or -1 with errno set.
int OpenNewDescriptor(const std::string& path);
FileResult SyncDescriptor(int fd);
// Closes `fd`; `pending` (a failed last write) wins over a failed close.
FileResult CloseDescriptor(int fd, FileResult pending);

// Opens a new file for Env::NewStreamFile: blocks written directly to the
// disk by a thread of the file's own while the next block fills.
FileResult OpenPosixStream(const std::string& path, std::unique_ptr<WritableFile>* file);
FileResult OpenPosixReadable(const std::string& path, std::unique_ptr<ReadableFile>* file);

}  // namespace qb
