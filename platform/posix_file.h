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
// Opens a new file for Env::NewStreamFile: blocks written directly to the
// disk by a thread of the file's own while the next block fills.
FileResult OpenPosixStream(const std::string& path, std::unique_ptr<WritableFile>* file);
FileResult OpenPosixReadable(const std::string& path, std::unique_ptr<ReadableFile>* file);

}  // namespace qb
