// Messages to other processes' windows that the caller does not wait for.
//
// One worker thread sends the queued messages one after another, in the
// order they were queued, each with SendMessageToWindow's wait for the
// reply; the caller only queues. A window that never answers therefore
// delays the messages behind it, never the thread that queued them.
//
// The queue is bounded. When it is full, the oldest message still waiting
// is dropped (and traced) to make room: the messages are status news, and a
// newer one describes the current state better than the one it displaces,
// while a backlog only grows when a peer takes the full reply time for each
// message. The message being sent is never dropped.
//
// Finish gives the worker a bounded grace to get through the queue. What is
// still waiting when the grace ends is posted without waiting for replies
// (a peer that reads still gets it, in order), the wait for the reply in
// progress is abandoned, and both are traced.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/stop_signal.h"

namespace qb {

class OrderedSender {
 public:
  static constexpr size_t kDefaultCapacity = 64;
  static constexpr int kDefaultReplyTimeoutMs = 5000;

  explicit OrderedSender(size_t capacity = kDefaultCapacity,
                         int replyTimeoutMs = kDefaultReplyTimeoutMs);
  ~OrderedSender();  // Finish(0) unless finished
  OrderedSender(const OrderedSender&) = delete;
  OrderedSender& operator=(const OrderedSender&) = delete;

  // Any thread; never waits for the peer. False (traced) once Finish has
  // begun: nothing is queued any more.
  bool Queue(uint32_t window, uint32_t message, uint64_t wParam, int64_t lParam);

  // Messages queued and not yet taken by the worker.
  size_t Waiting() const;

  // Stops taking messages and lets the worker send what is queued for at
  // most graceMs; then posts the rest without replies and abandons the
  // reply being waited for. Returns the number of messages that went out
  // without their reply being awaited to the end. Ends the worker; callable
  // once (later calls return 0).
  size_t Finish(int graceMs);

 private:
  struct Message {
    uint32_t window;
    uint32_t message;
    uint64_t wParam;
    int64_t lParam;
  };

  void Work();

  const size_t capacity_;
  const int reply_timeout_ms_;
  StopSignal abandon_;  // raised once Finish gives up waiting

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // worker: a message or Finish
  std::condition_variable idle_;  // Finish: the queue is done
  std::deque<Message> queue_;
  bool busy_ = false;       // the worker is sending one
  bool closed_ = false;     // Finish has begun
  bool abandoned_ = false;  // the grace is over
  bool finished_ = false;
  size_t unanswered_ = 0;  // sent without the reply awaited to the end, after closing
  std::thread worker_;
};

}  // namespace qb
