#include "interop/ordered_sender.h"

#include <chrono>

#include "interop/window_endpoint.h"
#include "platform/trace.h"
#include "platform/worker_thread.h"

namespace qb {

OrderedSender::OrderedSender(size_t capacity, int replyTimeoutMs)
    : capacity_(capacity == 0 ? 1 : capacity), reply_timeout_ms_(replyTimeoutMs) {
  worker_ = StartWorkerThread([this] { Work(); });
}

OrderedSender::~OrderedSender() { Finish(0); }

bool OrderedSender::Queue(uint32_t window, uint32_t message, uint64_t wParam, int64_t lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    TraceLog(" Notification not sent, the program is ending: message %u to window %u", message,
             window);
    return false;
  }
  if (queue_.size() >= capacity_) {
    const Message& oldest = queue_.front();
    TraceLog(" Notification queue full: dropped message %u (%llu, %lld) to window %u",
             oldest.message, static_cast<unsigned long long>(oldest.wParam),
             static_cast<long long>(oldest.lParam), oldest.window);
    queue_.pop_front();
  }
  queue_.push_back(Message{window, message, wParam, lParam});
  wake_.notify_one();
  return true;
}

size_t OrderedSender::Waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

size_t OrderedSender::Finish(int graceMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (finished_) return 0;
  finished_ = true;
  closed_ = true;
  wake_.notify_all();
  bool done = idle_.wait_for(lock, std::chrono::milliseconds(graceMs > 0 ? graceMs : 0),
                             [this] { return queue_.empty() && !busy_; });
  if (!done) {
    abandoned_ = true;
    // Stays raised from now on: every later wait of the worker ends at once.
    abandon_.Raise();
    wake_.notify_all();
  }
  lock.unlock();
  if (worker_.joinable()) worker_.join();
  lock.lock();
  return unanswered_;
}

void OrderedSender::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !queue_.empty() || closed_; });
    if (abandoned_ || queue_.empty()) break;  // given up, or closed with nothing left
    Message next = queue_.front();
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    bool answered = SendMessageToWindowUnless(next.window, next.message, next.wParam, next.lParam,
                                              nullptr, reply_timeout_ms_, abandon_.Descriptor());
    lock.lock();
    busy_ = false;
    if (!answered && abandoned_) {
      ++unanswered_;
      TraceLog(" Notification abandoned at exit, no reply from window %u (message %u)",
               next.window, next.message);
    }
    idle_.notify_all();
  }
  std::deque<Message> rest;
  rest.swap(queue_);
  unanswered_ += rest.size();
  lock.unlock();
  // Posting never waits (the datagram goes out or fails at once), so the
  // rest still reaches peers that read, in order, within the grace.
  for (const Message& message : rest) {
    PostMessageToWindow(message.window, message.message, message.wParam, message.lParam);
  }
  if (!rest.empty()) {
    TraceLog(" %zu notification(s) posted at exit without waiting for replies", rest.size());
  }
}

}  // namespace qb
