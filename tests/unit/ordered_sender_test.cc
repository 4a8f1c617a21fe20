// The ordered sender against real window endpoints whose loop the test
// runs: until it does, the window neither reads nor answers.
#include "interop/ordered_sender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "interop/window_endpoint.h"
#include "interop/window_messages.h"
#include "platform/event_loop.h"
#include "platform/trace.h"
#include "test_root.h"

namespace qb {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct Recorder final : Window {
  std::mutex mutex;
  std::vector<int64_t> values;  // lParam of each message, in arrival order
  int64_t HandleMessage(uint32_t, uint64_t, int64_t lParam) override {
    std::lock_guard<std::mutex> lock(mutex);
    values.push_back(lParam);
    return 0;
  }
  std::vector<int64_t> Seen() {
    std::lock_guard<std::mutex> lock(mutex);
    return values;
  }
};

// A window on the test thread's loop: silent until Pump runs the loop.
struct SilentPeer {
  EventLoop loop{Env::Default()};
  Recorder window;
  WindowEndpoint endpoint{loop, &window};
  uint32_t handle() const { return endpoint.handle(); }
  // Serves the peer until it has seen `count` messages (or 5 s passed).
  std::vector<int64_t> Pump(size_t count) {
    auto start = Clock::now();
    while (window.Seen().size() < count && MsSince(start) < 5000) loop.RunOnce(10);
    return window.Seen();
  }
};

std::vector<int64_t> Range(int64_t first, int64_t last) {
  std::vector<int64_t> values;
  for (int64_t v = first; v <= last; ++v) values.push_back(v);
  return values;
}

size_t CountContaining(const std::vector<std::string>& lines, const std::string& part) {
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.find(part) != std::string::npos;
  });
}

// More messages than the peer's socket queue holds, to a peer that does not
// read: queueing takes no time, and once the peer serves, everything
// arrives in the order queued (from two threads: each thread's order).
TEST(OrderedSender, KeepsOrderAndNeverMakesTheCallerWait) {
  test::TestRoot root;
  SilentPeer peer;
  OrderedSender sender;
  auto start = Clock::now();
  std::thread other([&] {
    for (int64_t v = 101; v <= 120; ++v) sender.Queue(peer.handle(), WM_USER + 1, 0, v);
  });
  for (int64_t v = 1; v <= 30; ++v) sender.Queue(peer.handle(), WM_USER + 1, 0, v);
  other.join();
  EXPECT_LT(MsSince(start), 1000);  // far from one 5 s wait, even on a loaded machine

  std::vector<int64_t> seen = peer.Pump(50);
  ASSERT_EQ(seen.size(), 50u);
  std::vector<int64_t> mine, theirs;
  for (int64_t v : seen) (v > 100 ? theirs : mine).push_back(v);
  EXPECT_EQ(mine, Range(1, 30));
  EXPECT_EQ(theirs, Range(101, 120));
  EXPECT_EQ(sender.Finish(1000), 0u);  // everything was answered
}

TEST(OrderedSender, AFullQueueDropsTheOldestWaitingMessage) {
  test::TestRoot root;
  SilentPeer peer;
  OrderedSender sender(3);
  StartTraceCapture();
  sender.Queue(peer.handle(), WM_USER + 1, 0, 1);
  auto start = Clock::now();
  while (sender.Waiting() != 0 && MsSince(start) < 2000) std::this_thread::yield();
  for (int64_t v = 2; v <= 6; ++v) sender.Queue(peer.handle(), WM_USER + 1, 0, v);
  std::vector<std::string> trace = TakeCapturedTrace();
  StopTraceCapture();
  EXPECT_EQ(CountContaining(trace, "Notification queue full: dropped message"), 2u);
  EXPECT_EQ(peer.Pump(4), (std::vector<int64_t>{1, 4, 5, 6}));  // 1 was already on its way
}

// The exit: a silent peer holds the worker; Finish gives up after the
// grace, and what is still queued is posted in order, for whoever reads.
TEST(OrderedSender, FinishIsBoundedWhenAPeerNeverAnswers) {
  test::TestRoot root;
  SilentPeer silent, later;
  OrderedSender sender;
  sender.Queue(silent.handle(), WM_USER + 1, 0, 1);
  sender.Queue(later.handle(), WM_USER + 1, 0, 2);
  sender.Queue(silent.handle(), WM_USER + 1, 0, 3);
  sender.Queue(later.handle(), WM_USER + 1, 0, 4);
  StartTraceCapture();
  auto start = Clock::now();
  EXPECT_EQ(sender.Finish(200), 4u);
  int64_t took = MsSince(start);
  std::vector<std::string> trace = TakeCapturedTrace();
  StopTraceCapture();
  EXPECT_GE(took, 190);
  EXPECT_LT(took, 2000);  // not the 5 s of an unanswered send
  EXPECT_EQ(later.Pump(2), (std::vector<int64_t>{2, 4}));
  EXPECT_EQ(CountContaining(trace, "abandoned at exit"), 1u);
  EXPECT_EQ(CountContaining(trace, "3 notification(s) posted at exit"), 1u);
  EXPECT_FALSE(sender.Queue(later.handle(), WM_USER + 1, 0, 5));
}

// A peer that stopped reading fills its socket queue; a send to it must
// still end with the time-out instead of blocking in the send.
TEST(WindowSend, APeerThatStoppedReadingCostsOnlyTheTimeout) {
  test::TestRoot root;
  SilentPeer peer;
  int posted = 0;
  while (posted < 10000 && PostMessageToWindow(peer.handle(), WM_USER + 1, 0, posted)) ++posted;
  ASSERT_LT(posted, 10000);
  auto start = Clock::now();
  EXPECT_FALSE(SendMessageToWindow(peer.handle(), WM_USER + 1, 0, 0, nullptr, 200));
  EXPECT_LT(MsSince(start), 1000);
}

}  // namespace
}  // namespace qb
