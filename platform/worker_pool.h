// Threads for work that must not hold up an event loop: a step that waits
// for the disk, a conversion, a call into a user's library. Each piece of
// work runs on a pool thread; its completion then runs on the loop's
// thread, so only the work itself needs to care about threads.
//
// The pool grows while every thread is busy (up to a limit), so one slow
// piece of work never queues another behind it; idle threads stay for the
// next work. Threads are detached: a piece of work stuck in a library does
// not keep the process from ending.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "platform/event_loop.h"

namespace qb {

class WorkerPool {
 public:
  explicit WorkerPool(size_t maxThreads = 32);
  // Work that has not started is dropped with its completion; running work
  // finishes on its own, and its completion is dropped.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs `work` on a pool thread, then `done` on `loop`'s thread (which
  // must outlive the pool, or at least the wait below).
  void Run(EventLoop& loop, std::function<void()> work, std::function<void()> done);

  // Waits until no work is queued or running, at most `timeoutMs`; true
  // when that is the case.
  bool WaitIdle(int timeoutMs);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace qb
