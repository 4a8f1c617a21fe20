#include "platform/event_loop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/net.h"

namespace qb {
namespace {

struct Recorder final : Window {
  std::vector<std::pair<uint32_t, int64_t>> seen;
  std::function<void(uint32_t, uint64_t, int64_t)> onMessage;
  int64_t HandleMessage(uint32_t message, uint64_t wParam, int64_t lParam) override {
    seen.emplace_back(message, message == WM_TIMER ? static_cast<int64_t>(wParam) : lParam);
    if (onMessage) onMessage(message, wParam, lParam);
    return static_cast<int64_t>(wParam) * 2;
  }
  int Count(uint32_t message, int64_t value) const {
    int n = 0;
    for (const auto& [m, v] : seen) n += (m == message && v == value);
    return n;
  }
};

TEST(EventLoop, TimersFollowTheInjectedClockAndFireOncePerLateTick) {
  ManualClock clock;
  EventLoop loop(&clock);
  Recorder window;
  loop.SetTimer(&window, 7, 1000);
  loop.RunOnce(0);
  EXPECT_EQ(window.Count(WM_TIMER, 7), 0);
  clock.Advance(1000);
  loop.RunOnce(0);
  EXPECT_EQ(window.Count(WM_TIMER, 7), 1);
  clock.Advance(5000);  // late: one message, not five
  loop.RunOnce(0);
  EXPECT_EQ(window.Count(WM_TIMER, 7), 2);
  loop.KillTimer(&window, 7);
  clock.Advance(5000);
  loop.RunOnce(0);
  EXPECT_EQ(window.Count(WM_TIMER, 7), 2);
}

TEST(EventLoop, MessagesFromOtherThreadsArriveOnTheOwnerThread) {
  EventLoop loop;
  Recorder window;
  std::thread::id handlerThread;
  window.onMessage = [&](uint32_t, uint64_t, int64_t) {
    handlerThread = std::this_thread::get_id();
  };
  int64_t result = 0;
  std::thread other([&] {
    loop.PostMessage(&window, WM_USER + 1, 0, 11);
    result = loop.SendMessage(&window, WM_USER + 2, 21, 0);
    loop.Quit(3);
  });
  EXPECT_EQ(loop.Run(), 3);
  other.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
  EXPECT_EQ(window.Count(WM_USER + 1, 11), 1);
  EXPECT_EQ(loop.SendMessage(&window, WM_USER + 3, 5, 0), 10);  // direct on the owner thread
}

// A connected pair over loopback; the server side is registered.
class SocketRules : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = TcpListen(0, 1);
    ASSERT_GE(listener_, 0);
  }
  void TearDown() override {
    if (client_ >= 0) SockClose(client_);
    if (server_ >= 0) SockClose(server_);
    SockClose(listener_);
  }
  void Connect(uint16_t port) {
    client_ = TcpConnect(0x7F000001, port);
    ASSERT_GE(client_, 0);
    for (int i = 0; i < 100 && server_ < 0; ++i) {
      server_ = TcpAccept(listener_, nullptr);
      if (server_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(server_, 0);
    loop_.AsyncSelect(server_, &window_, WM_USER + 4, FD_READ | FD_WRITE | FD_CLOSE);
  }
  int Events(uint32_t event) const { return window_.Count(WM_USER + 4, event); }

  EventLoop loop_;
  Recorder window_;
  int listener_ = -1, client_ = -1, server_ = -1;
};

TEST_F(SocketRules, WriteOnceReadUntilReceivedCloseOnce) {
  Connect(LocalPort(listener_));
  loop_.RunOnce(100);
  EXPECT_EQ(Events(FD_WRITE), 1);
  loop_.RunOnce(0);
  EXPECT_EQ(Events(FD_WRITE), 1);  // not again without a blocked send

  // Nobody receives: read is announced once only.
  ASSERT_EQ(SockSend(client_, "abcd", 4), 4);
  for (int i = 0; i < 5; ++i) loop_.RunOnce(20);
  EXPECT_EQ(Events(FD_READ), 1);

  // A receive that leaves data behind re-enables the announcement.
  char buffer[4];
  window_.onMessage = [&](uint32_t, uint64_t, int64_t event) {
    if (event == FD_READ) SockRecv(server_, buffer, 1);
  };
  SockRecv(server_, buffer, 1);
  for (int i = 0; i < 5; ++i) loop_.RunOnce(20);
  // One per remaining byte; a receive that filled its request may be
  // followed by one more announcement that finds nothing.
  int reads = Events(FD_READ);
  EXPECT_GE(reads, 4);
  EXPECT_LE(reads, 5);
  for (int i = 0; i < 5; ++i) loop_.RunOnce(20);
  EXPECT_EQ(Events(FD_READ), reads);  // nothing left, nothing announced

  SockClose(client_);
  client_ = -1;
  for (int i = 0; i < 5; ++i) loop_.RunOnce(20);
  EXPECT_EQ(Events(FD_CLOSE), 1);
}

TEST_F(SocketRules, HandlerMayCloseTheSocketDuringDelivery) {
  Connect(LocalPort(listener_));
  window_.onMessage = [&](uint32_t, uint64_t, int64_t event) {
    if (event == FD_WRITE) {
      SockClose(server_);
      server_ = -1;
    }
  };
  SockSend(client_, "x", 1);
  loop_.RunOnce(100);
  loop_.RunOnce(20);
  EXPECT_EQ(Events(FD_WRITE), 1);
  EXPECT_EQ(Events(FD_READ), 0);
}

}  // namespace
}  // namespace qb
