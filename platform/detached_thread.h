// Threads that nobody joins (the FTP server's sessions and transfers),
// started with every signal blocked, like the worker threads, and with a
// stack of the size asked for, so that thousands of them fit.
#pragma once

#include <cstddef>
#include <functional>

namespace qb {

// False when the system refuses another thread.
bool StartDetachedThread(size_t stackBytes, std::function<void()> body);

}  // namespace qb
