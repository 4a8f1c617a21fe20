// Windows, window messages and socket notification on one thread.
//
// A Window is an object with a message handler owned by the thread that
// runs its EventLoop. PostMessage queues a message; SendMessage runs the
// handler on the owner thread and waits for its result (directly when the
// caller is that thread). Timers deliver WM_TIMER with the timer id.
//
// Socket notification follows the window-message socket rules on top of
// level-triggered epoll: AsyncSelect(socket, window, message, mask) makes
// the socket's events reach the window as (message, socket, event):
//   read   (0x01) is raised while data is pending, and again only after the
//                 program has called SockRecv on the socket (at once, without
//                 asking epoll, when that receive filled its whole request;
//                 such a guess may find nothing, and the receive then
//                 reports would-block);
//   write  (0x02) is raised once after registration, and again only after a
//                 SockSend that would block;
//   accept (0x08) is raised while a connection waits, and again only after
//                 TcpAccept (at once when that accept succeeded); listeners
//                 are served first in each pass;
//   close  (0x20) is raised once, when the peer has closed (or the socket
//                 failed) and no data is left to read.
// A handler may close any socket or remove any window while events are
// being delivered; events for it that are still pending are dropped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/clock.h"

namespace qb {

constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_COMMAND = 0x0111;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_USER = 0x0400;

constexpr uint32_t FD_READ = 0x01;
constexpr uint32_t FD_WRITE = 0x02;
constexpr uint32_t FD_OOB = 0x04;
constexpr uint32_t FD_ACCEPT = 0x08;
constexpr uint32_t FD_CONNECT = 0x10;
constexpr uint32_t FD_CLOSE = 0x20;

class Window {
 public:
  virtual ~Window() = default;
  virtual int64_t HandleMessage(uint32_t message, uint64_t wParam, int64_t lParam) = 0;
};

class EventLoop {
 public:
  // The constructing thread owns the loop. `clock` drives the timers
  // (the system clock when null) and must outlive the loop.
  explicit EventLoop(const Clock* clock = nullptr);
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // The loop owned by the calling thread, or null.
  static EventLoop* Current();

  // Owner thread only. A mask of 0 ends notification for the socket.
  void AsyncSelect(int socket, Window* window, uint32_t message, uint32_t mask);

  // Any thread.
  void PostMessage(Window* window, uint32_t message, uint64_t wParam, int64_t lParam);
  int64_t SendMessage(Window* window, uint32_t message, uint64_t wParam, int64_t lParam);

  // Owner thread only. Setting an existing id again restarts it.
  void SetTimer(Window* window, uint64_t id, uint32_t periodMs);
  void KillTimer(Window* window, uint64_t id);

  // Forgets every timer, queued message and socket registration of a
  // window that is about to be destroyed. Owner thread only.
  void RemoveWindow(Window* window);

  // Runs until Quit; returns the quit code.
  int Run();
  // Any thread: makes Run return after the current delivery.
  void Quit(int code);
  bool QuitRequested() const { return quit_requested_; }
  // Waits at most maxWaitMs (less when a timer is due sooner) and delivers
  // what is ready: queued messages, socket events, due timers.
  void RunOnce(int maxWaitMs);

  // Termination signals (SIGTERM, SIGINT) reach `handler` on the owner
  // thread with the signal number. Call once, before other threads start.
  void WatchTerminationSignals(std::function<void(int)> handler);

  // Calls `onReadable` on the owner thread while `fd` (any pollable
  // descriptor that is not a registered socket) has input. Owner thread only.
  void WatchReadable(int fd, std::function<void()> onReadable);
  void StopWatching(int fd);

  // Called by the socket functions of the platform layer.
  void NoteReceiveCalled(int socket);
  // A receive that filled its whole request: more data is probably there.
  void NoteReceiveFilled(int socket);
  void NoteAcceptCalled(int socket);
  void NoteAcceptSucceeded(int socket);
  void NoteSendWouldBlock(int socket);
  void Forget(int socket);

  const Clock& clock() const { return *clock_; }

 private:
  struct Registration {
    uint64_t serial;
    int socket;
    Window* window;
    uint32_t message;
    uint32_t mask;
    bool readArmed;
    bool acceptArmed;
    bool writeArmed;
    bool closeDelivered;
    bool moreLikely;       // the last receive filled its request / accept succeeded
    uint32_t epollEvents;  // current interest; 0 = not in the epoll set
  };
  struct Posted {
    Window* window;
    uint32_t message;
    uint64_t wParam;
    int64_t lParam;
    // Set for a SendMessage from another thread.
    struct Reply* reply;
  };
  struct TimerKey {
    Window* window;
    uint64_t id;
    bool operator<(const TimerKey& other) const {
      return window != other.window ? window < other.window : id < other.id;
    }
  };
  struct Timer {
    uint32_t periodMs;
    int64_t due;
  };

  void UpdateInterest(Registration& registration);
  void SetInterest(Registration& registration, uint32_t wanted);
  void DeliverSocketEvents(uint64_t serial, uint32_t epollEvents);
  void Deliver(Registration& registration, uint32_t event);
  bool DrainQueue();
  void FireDueTimers();
  int64_t NextTimerDue() const;
  void Wake();

  const Clock* clock_;
  std::thread::id owner_;
  int epoll_fd_ = -1;
  int wake_fd_ = -1;
  int signal_fd_ = -1;
  std::function<void(int)> signal_handler_;
  uint64_t next_serial_ = 16;  // small serials are reserved for wake and signals
  std::unordered_map<int, Registration> by_socket_;
  std::unordered_map<uint64_t, int> socket_of_serial_;
  std::map<TimerKey, Timer> timers_;
  struct Watcher {
    int fd;
    std::function<void()> onReadable;
  };
  std::unordered_map<uint64_t, Watcher> watchers_;

  std::mutex queue_mutex_;
  std::deque<Posted> queue_;

  std::atomic<bool> quit_requested_{false};
  std::atomic<int> quit_code_{0};
};

}  // namespace qb
