// A log file that cannot fill the disk and that other accounts cannot read:
// created with mode 0640, and once it has reached its limit it becomes
// NAME.1 (replacing the one before) and a new file starts, so it never takes
// more than about twice the limit.
#pragma once

#include <cstdio>
#include <string>

namespace qb {

// Opens `path` for appending (creating it 0640); a file of `maxBytes` or
// more is first moved aside (or, where it cannot be, emptied). Null when
// it cannot be opened.
std::FILE* OpenBoundedLog(const std::string& path, long maxBytes);

}  // namespace qb
