#include "platform/event_loop.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "interop/window_messages.h"
#include "platform/fault_env.h"
#include "platform/net.h"

namespace qb {
namespace {

TEST(EventLoop, TimersRunInDueOrderOnTheInjectedClockOncePerLateTick) {
  FaultEnv env;
  EventLoop loop(env);
  std::string fired;
  EventLoop::TimerId slow = loop.AddTimer(1000, [&] { fired += 's'; });
  loop.AddTimer(300, [&] { fired += 'f'; });
  // What has fired once the clock moved on by `ms` and the loop ran once.
  auto after = [&](int ms) {
    env.AdvanceMs(ms);
    loop.RunOnce(0);
    return fired;
  };
  EXPECT_EQ(after(0), "");
  EXPECT_EQ(after(300), "f");
  EXPECT_EQ(after(700), "ffs");     // both due: the one due first runs first
  EXPECT_EQ(after(5000), "ffsfs");  // late: once each, not once per missed period
  loop.CancelTimer(slow);
  EXPECT_EQ(after(1000), "ffsfsf");
}

TEST(EventLoop, ATimerMayCancelItselfAndAddAnother) {
  FaultEnv env;
  EventLoop loop(env);
  int first = 0, second = 0;
  EventLoop::TimerId id = 0;
  id = loop.AddTimer(10, [&] {
    ++first;
    loop.CancelTimer(id);
    loop.AddTimer(1000, [&] { ++second; });
  });
  for (int step : {10, 1000, 1000}) {
    env.AdvanceMs(step);
    loop.RunOnce(0);
  }
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
}

struct Recorder final : Window {
  std::vector<std::pair<uint32_t, int64_t>> seen;
  std::thread::id thread;
  int64_t HandleMessage(uint32_t message, uint64_t wParam, int64_t lParam) override {
    seen.emplace_back(message, lParam);
    thread = std::this_thread::get_id();
    return static_cast<int64_t>(wParam) * 2;
  }
};

TEST(EventLoop, TasksAndMessagesFromOtherThreadsRunOnTheOwnerThreadInOrder) {
  EventLoop loop(Env::Default());
  Recorder window;
  std::vector<int> order;
  std::thread::id taskThread;
  int64_t result = 0;
  std::thread other([&] {
    for (int i = 0; i < 100; ++i) loop.Post([&order, i] { order.push_back(i); });
    loop.Post([&] { taskThread = std::this_thread::get_id(); });
    loop.PostMessage(&window, WM_USER + 1, 0, 11);
    result = loop.SendMessage(&window, WM_USER + 2, 21, 0);
    loop.Quit(3);
  });
  EXPECT_EQ(loop.Run(), 3);
  other.join();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  EXPECT_EQ(taskThread, std::this_thread::get_id());
  EXPECT_EQ(window.thread, std::this_thread::get_id());
  EXPECT_EQ(result, 42);
  EXPECT_EQ(window.seen.front(), std::make_pair(WM_USER + 1, int64_t{11}));
  EXPECT_EQ(loop.SendMessage(&window, WM_USER + 3, 5, 0), 10);  // direct on the owner thread
}

// Counts what a watched socket is told; `onEvent` may act on it.
struct EventCounter final : SocketHandler {
  int readable = 0, writable = 0, closed = 0;
  std::function<void(char)> onEvent;
  void OnReadable() override { Tell('r', readable); }
  void OnWritable() override { Tell('w', writable); }
  void OnPeerClosed() override { Tell('c', closed); }
  void Tell(char event, int& count) {
    ++count;
    if (onEvent) onEvent(event);
  }
};

// A connected pair over loopback; the server side is watched.
class SocketRules : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = TcpListen(0, 1);
    ASSERT_GE(listener_, 0);
    client_ = TcpConnect(0x7F000001, LocalPort(listener_));
    ASSERT_GE(client_, 0);
    int fd = -1;
    for (int i = 0; i < 100 && fd < 0; ++i) {
      fd = TcpAccept(listener_, nullptr);
      if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(fd, 0);
    server_ = LoopSocket(loop_, fd);
    server_.Watch(&events_, kEventReadable | kEventWritable | kEventPeerClosed);
  }
  void TearDown() override {
    if (client_ >= 0) SockClose(client_);
    SockClose(listener_);
  }
  // Sends, then closes the client, so data and close arrive together.
  void SendRawAndClose(const std::string& bytes) {
    ASSERT_EQ(SockSend(client_, bytes.data(), bytes.size()), static_cast<long>(bytes.size()));
    SockClose(client_);
    client_ = -1;
  }
  void Run(int rounds, int waitMs = 20) {
    for (int i = 0; i < rounds; ++i) loop_.RunOnce(waitMs);
  }

  EventLoop loop_{Env::Default()};
  EventCounter events_;
  LoopSocket server_;
  int listener_ = -1, client_ = -1;
};

TEST_F(SocketRules, WriteOnceReadUntilReceivedCloseOnce) {
  Run(1, 100);
  EXPECT_EQ(events_.writable, 1);
  Run(1, 0);
  EXPECT_EQ(events_.writable, 1);  // not again without a blocked send

  // Nobody receives: readable is told once only.
  ASSERT_EQ(SockSend(client_, "abcd", 4), 4);
  Run(5);
  EXPECT_EQ(events_.readable, 1);

  // A receive that leaves data behind re-enables it.
  char buffer[4];
  events_.onEvent = [&](char event) {
    if (event == 'r') server_.Receive(buffer, 1);
  };
  server_.Receive(buffer, 1);
  Run(5);
  // One per remaining byte; a receive that filled its request may be
  // followed by one more that finds nothing.
  int reads = events_.readable;
  EXPECT_GE(reads, 4);
  EXPECT_LE(reads, 5);
  Run(5);
  EXPECT_EQ(events_.readable, reads);  // nothing left, nothing told

  SockClose(client_);
  client_ = -1;
  Run(5);
  EXPECT_EQ(events_.closed, 1);
}

TEST_F(SocketRules, ASendThatWouldBlockBringsWritableBack) {
  Run(1, 100);
  ASSERT_EQ(events_.writable, 1);
  SetSendBufferSize(server_.fd(), 4096);
  std::string chunk(65536, 'x');
  while (server_.Send(chunk.data(), chunk.size()) > 0) {
  }
  ASSERT_EQ(LastSocketError(), kWsaEWouldBlock);
  Run(2, 0);
  EXPECT_EQ(events_.writable, 1);  // still full
  char sink[65536];
  while (WaitReadable(client_, 50)) SockRecv(client_, sink, sizeof sink);
  Run(2);
  EXPECT_EQ(events_.writable, 2);
}

// A handler that pauses reading (its printer's document is being stored)
// hears neither the next data nor the peer's close until it resumes, and
// then hears both, the close once.
TEST_F(SocketRules, PausedReadingHoldsDataAndCloseUntilResumed) {
  char buffer[16];
  events_.onEvent = [&](char event) {
    if (event == 'r' && server_.Receive(buffer, sizeof buffer) > 0) server_.PauseReading(true);
  };
  SendRawAndClose("ab");
  Run(5);
  EXPECT_EQ(events_.readable, 1);
  EXPECT_EQ(events_.closed, 0);

  events_.onEvent = [&](char event) {
    if (event == 'r') server_.Receive(buffer, sizeof buffer);
  };
  server_.PauseReading(false);
  Run(5);
  EXPECT_EQ(events_.closed, 1);
}

TEST_F(SocketRules, HandlerMayCloseTheSocketDuringDelivery) {
  events_.onEvent = [&](char event) {
    if (event == 'w') server_.Close();
  };
  SockSend(client_, "x", 1);
  Run(1, 100);
  Run(1);
  EXPECT_EQ(events_.writable, 1);
  EXPECT_EQ(events_.readable, 0);
  EXPECT_FALSE(server_.IsOpen());
}

}  // namespace
}  // namespace qb
