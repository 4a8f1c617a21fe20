// The event loop of one thread: sockets watched with a handler object,
// callback timers, tasks posted from other threads, and the windows that
// other processes send messages to.
//
// Socket events follow fixed rules on top of level-triggered epoll; the
// scan protocol is written against them:
//   readable    is told while data is pending, and again only after the
//               program has received on the socket (at once, without asking
//               epoll, when that receive filled its whole request; such a
//               guess may find nothing, and the receive then reports
//               would-block);
//   writable    is told once after the socket is watched, and again only
//               after a send that would block;
//   acceptable  is told while a connection waits, and again only after an
//               accept (at once when that accept succeeded); listeners are
//               served first in each pass;
//   peer closed is told once, when the peer has closed (or the socket
//               failed) and no data is left to read.
// The loop learns of receives, sends and accepts because they go through
// the LoopSocket that owns the descriptor. A handler may close any socket
// while events are being delivered; events for it still pending are dropped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/env.h"
#include "platform/net.h"

namespace qb {

// A window: what other processes send messages to (interop/ gives them
// their numbers and endpoints); the loop queues and delivers them.
class Window {
 public:
  virtual ~Window() = default;
  virtual int64_t HandleMessage(uint32_t message, uint64_t wParam, int64_t lParam) = 0;
};

// What a watched socket is told. Each call comes on the loop's thread.
class SocketHandler {
 public:
  virtual void OnAcceptable() {}
  virtual void OnReadable() {}
  virtual void OnWritable() {}
  virtual void OnPeerClosed() {}

 protected:
  ~SocketHandler() = default;
};

// The signal number of a hang-up (SIGHUP), for termination handlers.
constexpr int kHangUpSignal = 1;

// The events to be told of (any combination).
enum SocketEvents : uint32_t {
  kEventReadable = 0x01,
  kEventWritable = 0x02,
  kEventAcceptable = 0x08,
  kEventPeerClosed = 0x20,
};

class EventLoop;

// A socket descriptor owned by the program and used on one loop: closing
// it (or destroying it) ends its watch. Move-only.
class LoopSocket {
 public:
  LoopSocket() = default;
  LoopSocket(EventLoop& loop, int fd) : loop_(&loop), fd_(fd) {}
  ~LoopSocket() { Close(); }
  LoopSocket(LoopSocket&& other) noexcept;
  LoopSocket& operator=(LoopSocket&& other) noexcept;
  LoopSocket(const LoopSocket&) = delete;
  LoopSocket& operator=(const LoopSocket&) = delete;

  // Tells `handler` of `events` (0: nothing any more). Watching again
  // re-enables every event, as a fresh watch does.
  void Watch(SocketHandler* handler, uint32_t events);
  // As SockRecv, SockSend (through the loop's Env) and TcpAccept.
  long Receive(void* buffer, size_t length);
  // While paused, neither readable nor peer closed is told (the data and
  // the close wait in the kernel); writable goes on. Resuming tells what
  // is pending, as a level-triggered watch does.
  void PauseReading(bool paused);
  long Send(const void* data, size_t length);
  // Datagram sockets: as UdpReceiveFrom and UdpSendTo (platform/udp.h),
  // with the same effect on the events as Receive and Send.
  long ReceiveFrom(void* buffer, size_t length, Ipv4Peer* sender);
  long SendTo(const void* data, size_t length, uint32_t address, uint16_t port);
  int Accept(Ipv4Peer* peer);
  void Shutdown(ShutdownHow how);
  void Close();

  int fd() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }

 private:
  EventLoop* loop_ = nullptr;
  int fd_ = -1;
};

class EventLoop {
 public:
  // The constructing thread owns the loop. `env` gives the timers their
  // clock and the sockets their sends; it must outlive the loop.
  explicit EventLoop(Env& env);
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  Env& env() const { return *env_; }

  // Timers, owner thread only. The callback runs every `periodMs`, once
  // however late the loop is; it may cancel its own or any other timer.
  using TimerId = uint64_t;
  TimerId AddTimer(uint32_t periodMs, std::function<void()> callback);
  void CancelTimer(TimerId id);

  // Any thread: runs `task` on the owner thread, in the order posted.
  void Post(std::function<void()> task);

  // Messages for a window (from other processes, through its endpoint).
  // Any thread; SendMessage waits for the result (runs directly on the
  // owner thread).
  void PostMessage(Window* window, uint32_t message, uint64_t wParam, int64_t lParam);
  int64_t SendMessage(Window* window, uint32_t message, uint64_t wParam, int64_t lParam);
  // Drops queued messages of a window that is about to be destroyed.
  void RemoveWindow(Window* window);

  // Runs until Quit; returns the quit code.
  int Run();
  // Any thread: makes Run return after the current delivery.
  void Quit(int code);
  bool QuitRequested() const { return quit_requested_; }
  // Waits at most maxWaitMs (less when a timer is due sooner) and delivers
  // what is ready: posted tasks and messages, socket events, due timers.
  void RunOnce(int maxWaitMs);

  // Termination signals (SIGTERM, SIGINT, and SIGHUP, which ends a desktop
  // session's programs at log-out) reach `handler` on the owner thread with
  // the signal number. Call once, before other threads start.
  void WatchTerminationSignals(std::function<void(int)> handler);

  // Calls `onReadable` on the owner thread while `fd` (any pollable
  // descriptor that is not a LoopSocket) has input. Owner thread only.
  void WatchReadable(int fd, std::function<void()> onReadable);
  void StopWatching(int fd);

 private:
  friend class LoopSocket;

  struct Registration {
    uint64_t serial;
    int socket;
    SocketHandler* handler;
    uint32_t events;
    bool readArmed;
    bool acceptArmed;
    bool writeArmed;
    bool closeDelivered;
    bool moreLikely;  // the last receive filled its request / accept succeeded
    bool readPaused;
    uint32_t epollEvents;  // current interest; 0 = not in the epoll set
  };
  struct Reply;
  struct Queued {
    std::function<void()> task;  // a posted task, or else a message:
    Window* window;
    uint32_t message;
    uint64_t wParam;
    int64_t lParam;
    Reply* reply;  // set for a SendMessage from another thread
  };
  struct Timer {
    uint32_t periodMs;
    int64_t due;
    std::function<void()> callback;
  };

  // Called by LoopSocket.
  void Watch(int socket, SocketHandler* handler, uint32_t events);
  void Forget(int socket);
  void NoteReceive(int socket, bool filled);
  void NoteAccept(int socket, bool succeeded);
  void NoteSendWouldBlock(int socket);
  void PauseReading(int socket, bool paused);

  static void Answer(Reply* reply, int64_t result);
  // Re-enables the event whose flag is `armed`; `moreLikely` notes that the
  // call that did it found data or a caller, so more probably wait.
  void Rearm(int socket, bool Registration::*armed, bool moreLikely);
  Registration* Find(int socket);
  void UpdateInterest(Registration& registration);
  void SetInterest(Registration& registration, uint32_t wanted);
  void DeliverSocketEvents(uint64_t serial, uint32_t epollEvents);
  bool DrainQueue();
  void FireDueTimers();
  void Enqueue(Queued queued);
  void Wake();

  Env* env_;
  std::thread::id owner_;
  int epoll_fd_ = -1;
  int wake_fd_ = -1;
  int signal_fd_ = -1;
  std::function<void(int)> signal_handler_;
  uint64_t next_serial_ = 16;  // small serials are reserved for wake and signals
  std::unordered_map<int, Registration> by_socket_;
  std::unordered_map<uint64_t, int> socket_of_serial_;

  // Timers by due time; a timer's id finds its entry.
  TimerId next_timer_ = 1;
  std::set<std::pair<int64_t, TimerId>> due_;
  std::unordered_map<TimerId, Timer> timers_;

  struct Watcher {
    int fd;
    std::function<void()> onReadable;
  };
  std::unordered_map<uint64_t, Watcher> watchers_;

  std::mutex queue_mutex_;
  std::deque<Queued> queue_;

  std::atomic<bool> quit_requested_{false};
  std::atomic<int> quit_code_{0};
};

}  // namespace qb
