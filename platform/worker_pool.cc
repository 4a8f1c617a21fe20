#include "platform/worker_pool.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/worker_thread.h"

namespace qb {

struct WorkerPool::Shared {
  struct Item {
    EventLoop* loop;
    std::function<void()> work;
    std::function<void()> done;
  };
  std::mutex mutex;
  std::condition_variable wake;  // work queued, or the pool is ending
  std::condition_variable idle;  // a piece of work has finished
  std::deque<Item> queue;
  size_t threads = 0;
  size_t busy = 0;
  size_t maxThreads = 1;
  bool ending = false;

  void Serve(const std::shared_ptr<Shared>& self) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      wake.wait(lock, [this] { return ending || !queue.empty(); });
      if (ending) break;
      Item item = std::move(queue.front());
      queue.pop_front();
      ++busy;
      lock.unlock();
      item.work();
      lock.lock();
      // The loop may be gone once the pool has ended; the completion of
      // work that outlived its pool is dropped.
      if (!ending) item.loop->Post(std::move(item.done));
      --busy;
      idle.notify_all();
    }
    --threads;
    (void)self;  // keeps this state alive until the thread is done with it
  }
};

WorkerPool::WorkerPool(size_t maxThreads) : shared_(std::make_shared<Shared>()) {
  shared_->maxThreads = maxThreads == 0 ? 1 : maxThreads;
}

WorkerPool::~WorkerPool() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->ending = true;
  shared_->queue.clear();
  shared_->wake.notify_all();
}

void WorkerPool::Run(EventLoop& loop, std::function<void()> work, std::function<void()> done) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->queue.push_back({&loop, std::move(work), std::move(done)});
  const size_t free = shared_->threads - shared_->busy;
  if (free < shared_->queue.size() && shared_->threads < shared_->maxThreads) {
    ++shared_->threads;
    // Signals stay with the main thread's signalfd, whoever created the pool.
    StartWorkerThread([self = shared_] { self->Serve(self); }).detach();
  }
  shared_->wake.notify_one();
}

bool WorkerPool::WaitIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  return shared_->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return shared_->queue.empty() && shared_->busy == 0; });
}

}  // namespace qb
