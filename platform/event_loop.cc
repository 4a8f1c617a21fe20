#include "platform/event_loop.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/udp.h"

namespace qb {

struct EventLoop::Reply {
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  int64_t result = 0;
};

namespace {

constexpr uint64_t kWakeSerial = 1;
constexpr uint64_t kSignalSerial = 2;
constexpr int kReadRoundsPerWakeup = 16;

int BytesPending(int socket) {
  int pending = 0;
  if (::ioctl(socket, FIONREAD, &pending) != 0) return 0;
  return pending;
}

}  // namespace

void EventLoop::Answer(Reply* reply, int64_t result) {
  if (reply == nullptr) return;
  std::lock_guard<std::mutex> lock(reply->mutex);
  reply->result = result;
  reply->done = true;
  reply->done_signal.notify_one();
}

// --- LoopSocket ---

LoopSocket::LoopSocket(LoopSocket&& other) noexcept : loop_(other.loop_), fd_(other.fd_) {
  other.fd_ = -1;
}

LoopSocket& LoopSocket::operator=(LoopSocket&& other) noexcept {
  if (this != &other) {
    Close();
    loop_ = other.loop_;
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void LoopSocket::Watch(SocketHandler* handler, uint32_t events) {
  if (fd_ < 0) return;
  if (events == 0) {
    loop_->Forget(fd_);
  } else {
    loop_->Watch(fd_, handler, events);
  }
}

long LoopSocket::Receive(void* buffer, size_t length) {
  long got = SockRecv(fd_, buffer, length);
  // Receiving re-enables the readable event.
  loop_->NoteReceive(fd_, got > 0 && static_cast<size_t>(got) == length);
  return got;
}

long LoopSocket::Send(const void* data, size_t length) {
  long put = loop_->env().Send(fd_, data, length);
  // A send that would block re-enables the writable event.
  if (put < 0 && LastSocketError() == kWsaEWouldBlock) loop_->NoteSendWouldBlock(fd_);
  return put;
}

long LoopSocket::ReceiveFrom(void* buffer, size_t length, Ipv4Peer* sender) {
  long got = UdpReceiveFrom(fd_, buffer, length, sender);
  // A datagram may be empty: any receive, even of nothing, re-enables the event.
  loop_->NoteReceive(fd_, got > 0 && static_cast<size_t>(got) == length);
  return got;
}

long LoopSocket::SendTo(const void* data, size_t length, uint32_t address, uint16_t port) {
  long put = UdpSendTo(fd_, data, length, address, port);
  if (put < 0 && LastSocketError() == kWsaEWouldBlock) loop_->NoteSendWouldBlock(fd_);
  return put;
}

int LoopSocket::Accept(Ipv4Peer* peer) {
  int fd = TcpAccept(fd_, peer);
  loop_->NoteAccept(fd_, fd >= 0);
  return fd;
}

void LoopSocket::PauseReading(bool paused) {
  if (fd_ >= 0) loop_->PauseReading(fd_, paused);
}

void LoopSocket::Shutdown(ShutdownHow how) {
  if (fd_ >= 0) SockShutdown(fd_, how);
}

void LoopSocket::Close() {
  if (fd_ < 0) return;
  loop_->Forget(fd_);
  SockClose(fd_);
  fd_ = -1;
}

// --- EventLoop ---

EventLoop::EventLoop(Env& env) : env_(&env), owner_(std::this_thread::get_id()) {
  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWakeSerial;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &event);
}

EventLoop::~EventLoop() {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    for (Queued& queued : queue_) Answer(queued.reply, 0);
    queue_.clear();
  }
  if (signal_fd_ >= 0) ::close(signal_fd_);
  ::close(wake_fd_);
  ::close(epoll_fd_);
}

void EventLoop::Watch(int socket, SocketHandler* handler, uint32_t events) {
  auto found = by_socket_.find(socket);
  if (found == by_socket_.end()) {
    Registration registration{next_serial_++, socket, handler, events, true, true,
                              true,           false,  false,   false,  0};
    found = by_socket_.emplace(socket, registration).first;
    socket_of_serial_[registration.serial] = socket;
  } else {
    found->second.handler = handler;
    found->second.events = events;
    found->second.readArmed = found->second.acceptArmed = found->second.writeArmed = true;
  }
  UpdateInterest(found->second);
}

EventLoop::Registration* EventLoop::Find(int socket) {
  auto found = by_socket_.find(socket);
  return found == by_socket_.end() ? nullptr : &found->second;
}

void EventLoop::UpdateInterest(Registration& r) {
  uint32_t wanted = 0;
  if (!r.closeDelivered && !r.readPaused) {
    if ((r.events & kEventReadable) && r.readArmed) wanted |= EPOLLIN;
    if ((r.events & kEventAcceptable) && r.acceptArmed) wanted |= EPOLLIN;
    // Hang-up is only watched while it can be told; otherwise a closed
    // peer with unread data would wake the loop forever.
    if ((r.events & kEventPeerClosed) && (r.readArmed || !(r.events & kEventReadable))) {
      wanted |= EPOLLRDHUP;
    }
  }
  if ((r.events & kEventWritable) && r.writeArmed) wanted |= EPOLLOUT;
  SetInterest(r, wanted);
}

void EventLoop::SetInterest(Registration& r, uint32_t wanted) {
  if (wanted == r.epollEvents) return;
  epoll_event event{};
  event.events = wanted;
  event.data.u64 = r.serial;
  if (wanted == 0) {
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, r.socket, &event);
  } else if (r.epollEvents == 0) {
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, r.socket, &event);
  } else {
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, r.socket, &event);
  }
  r.epollEvents = wanted;
}

void EventLoop::Forget(int socket) {
  auto found = by_socket_.find(socket);
  if (found == by_socket_.end()) return;
  if (found->second.epollEvents != 0) {
    epoll_event event{};
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, socket, &event);
  }
  socket_of_serial_.erase(found->second.serial);
  by_socket_.erase(found);
}

// Disarming is lazy: a delivered event only clears the armed flag, and the
// epoll interest is narrowed when the kernel reports the same event again
// before the program has reacted. In the common case (the handler receives
// at once) no epoll_ctl call is made at all.
void EventLoop::Rearm(int socket, bool Registration::*armed, bool moreLikely) {
  Registration* r = Find(socket);
  if (r == nullptr) return;
  if (moreLikely) r->moreLikely = true;
  if (r->*armed) return;
  r->*armed = true;
  UpdateInterest(*r);
}

void EventLoop::NoteReceive(int socket, bool filled) {
  Rearm(socket, &Registration::readArmed, filled);
}

void EventLoop::NoteAccept(int socket, bool succeeded) {
  Rearm(socket, &Registration::acceptArmed, succeeded);
}

void EventLoop::PauseReading(int socket, bool paused) {
  Registration* r = Find(socket);
  if (r == nullptr || r->readPaused == paused) return;
  r->readPaused = paused;
  if (!paused) r->readArmed = true;  // what arrived meanwhile is told afresh
  UpdateInterest(*r);
}

void EventLoop::NoteSendWouldBlock(int socket) { Rearm(socket, &Registration::writeArmed, false); }

void EventLoop::DeliverSocketEvents(uint64_t serial, uint32_t events) {
  // Each step looks the registration up again: the previous delivery may
  // have closed the socket, and its number may even have been reused.
  auto lookup = [this, serial]() -> Registration* {
    auto found = socket_of_serial_.find(serial);
    if (found == socket_of_serial_.end()) return nullptr;
    return &by_socket_.at(found->second);
  };

  Registration* r = lookup();
  if (r == nullptr) return;
  if ((events & EPOLLOUT) && (r->events & kEventWritable)) {
    if (r->writeArmed) {
      r->writeArmed = false;
      r->handler->OnWritable();
      if ((r = lookup()) == nullptr) return;
    }
    if (!r->writeArmed) UpdateInterest(*r);  // writable stays true: stop watching it
  }
  if (r->readPaused) {
    UpdateInterest(*r);  // what else was reported waits for the resume
    return;
  }

  bool hangup = (events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0;
  if ((r->events & kEventAcceptable) && (events & EPOLLIN)) {
    // As with reads: while accepts succeed, more callers are probably
    // queued, and a listener's queue is short; take them while they wait.
    for (int round = 0; round < kReadRoundsPerWakeup && r->acceptArmed; ++round) {
      r->acceptArmed = false;
      r->moreLikely = false;
      r->handler->OnAcceptable();
      if ((r = lookup()) == nullptr) return;
      if (!r->moreLikely) break;
    }
    if (!r->acceptArmed) UpdateInterest(*r);
    return;
  }

  // Data pending is asked of the kernel only when the peer may be gone.
  int pending = hangup ? BytesPending(r->socket) : 1;
  if (events & EPOLLIN) {
    bool deliverRead = (r->events & kEventReadable) && r->readArmed &&
                       (pending > 0 || !(r->events & kEventPeerClosed));
    if (deliverRead) {
      // While the handler keeps receiving whole requests, more data is
      // almost surely waiting: announce it again at once instead of asking
      // epoll, a few times before other sockets get their turn. A guess
      // that was wrong costs the handler one receive that would block,
      // which every read handler already expects.
      for (int round = 0; round < kReadRoundsPerWakeup; ++round) {
        r->readArmed = false;
        r->moreLikely = false;
        r->handler->OnReadable();
        if ((r = lookup()) == nullptr) return;
        if (!r->readArmed || !r->moreLikely || r->closeDelivered || r->readPaused) break;
      }
      if (hangup) pending = BytesPending(r->socket);
    } else if ((r->events & kEventReadable) && !r->readArmed) {
      UpdateInterest(*r);  // reported again before a receive: stop watching it
    }
  }
  if (r->readPaused) {
    UpdateInterest(*r);  // a handler paused reading: the close waits for the resume too
    return;
  }

  if (hangup && (r->events & kEventPeerClosed) && !r->closeDelivered &&
      (pending == 0 || !(r->events & kEventReadable))) {
    r->closeDelivered = true;
    UpdateInterest(*r);
    r->handler->OnPeerClosed();
  } else if (hangup) {
    UpdateInterest(*r);
  }
}

void EventLoop::Enqueue(Queued queued) {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queue_.push_back(std::move(queued));
  }
  Wake();
}

void EventLoop::Post(std::function<void()> task) {
  Enqueue(Queued{std::move(task), nullptr, 0, 0, 0, nullptr});
}

void EventLoop::PostMessage(Window* window, uint32_t message, uint64_t wParam, int64_t lParam) {
  Enqueue(Queued{nullptr, window, message, wParam, lParam, nullptr});
}

int64_t EventLoop::SendMessage(Window* window, uint32_t message, uint64_t wParam, int64_t lParam) {
  if (std::this_thread::get_id() == owner_) return window->HandleMessage(message, wParam, lParam);
  Reply reply;
  Enqueue(Queued{nullptr, window, message, wParam, lParam, &reply});
  std::unique_lock<std::mutex> lock(reply.mutex);
  reply.done_signal.wait(lock, [&reply] { return reply.done; });
  return reply.result;
}

void EventLoop::Wake() {
  uint64_t one = 1;
  ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
  (void)ignored;
}

bool EventLoop::DrainQueue() {
  bool delivered = false;
  for (;;) {
    Queued queued;
    {
      std::lock_guard<std::mutex> lock(queue_mutex_);
      if (queue_.empty()) break;
      queued = std::move(queue_.front());
      queue_.pop_front();
    }
    if (queued.task) {
      queued.task();
    } else {
      Answer(queued.reply,
             queued.window->HandleMessage(queued.message, queued.wParam, queued.lParam));
    }
    delivered = true;
    if (quit_requested_) break;
  }
  return delivered;
}

EventLoop::TimerId EventLoop::AddTimer(uint32_t periodMs, std::function<void()> callback) {
  const TimerId id = next_timer_++;
  const int64_t due = env_->NowMs() + periodMs;
  timers_[id] = Timer{periodMs, due, std::move(callback)};
  due_.emplace(due, id);
  return id;
}

void EventLoop::CancelTimer(TimerId id) {
  auto found = timers_.find(id);
  if (found == timers_.end()) return;
  due_.erase({found->second.due, id});
  timers_.erase(found);
}

void EventLoop::FireDueTimers() {
  const int64_t now = env_->NowMs();
  // Timers added or re-armed while firing are due no earlier than now +
  // their period, so this pass ends.
  while (!due_.empty() && due_.begin()->first <= now) {
    const TimerId id = due_.begin()->second;
    due_.erase(due_.begin());
    Timer& timer = timers_.at(id);
    // Once however late the timer is, as window timers do.
    timer.due = now + timer.periodMs;
    due_.emplace(timer.due, id);
    std::function<void()> callback = timer.callback;  // the callback may cancel its timer
    callback();
  }
}

void EventLoop::RemoveWindow(Window* window) {
  std::lock_guard<std::mutex> lock(queue_mutex_);
  for (auto it = queue_.begin(); it != queue_.end();) {
    if (!it->task && it->window == window) {
      Answer(it->reply, 0);
      it = queue_.erase(it);
    } else {
      ++it;
    }
  }
}

static_assert(kHangUpSignal == SIGHUP);

void EventLoop::WatchTerminationSignals(std::function<void(int)> handler) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal_fd_ = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
  signal_handler_ = std::move(handler);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kSignalSerial;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, signal_fd_, &event);
}

void EventLoop::WatchReadable(int fd, std::function<void()> onReadable) {
  StopWatching(fd);
  uint64_t serial = next_serial_++;
  watchers_[serial] = Watcher{fd, std::move(onReadable)};
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = serial;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event);
}

void EventLoop::StopWatching(int fd) {
  for (auto it = watchers_.begin(); it != watchers_.end(); ++it) {
    if (it->second.fd != fd) continue;
    epoll_event event{};
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, &event);
    watchers_.erase(it);
    return;
  }
}

void EventLoop::RunOnce(int maxWaitMs) {
  bool busy = DrainQueue();
  if (quit_requested_) return;

  int wait = busy ? 0 : maxWaitMs;
  if (!due_.empty()) {
    int64_t untilDue = due_.begin()->first - env_->NowMs();
    if (untilDue < 0) untilDue = 0;
    if (wait < 0 || untilDue < wait) wait = static_cast<int>(untilDue);
  }

  epoll_event events[64];
  int count = ::epoll_wait(epoll_fd_, events, 64, wait);
  // Interrupted (a debugger, a stopped-and-continued process): nothing was
  // delivered; the next pass waits again.
  if (count < 0) count = 0;
  // Listeners first: their queues are short, and a connection left waiting
  // behind a burst of data is a printer whose handshake the kernel drops.
  std::stable_partition(events, events + count, [this](const epoll_event& event) {
    uint64_t serial = event.data.u64;  // epoll_event is packed: no reference into it
    auto found = socket_of_serial_.find(serial);
    return found != socket_of_serial_.end() &&
           (by_socket_.at(found->second).events & kEventAcceptable);
  });
  for (int i = 0; i < count && !quit_requested_; ++i) {
    uint64_t serial = events[i].data.u64;
    if (serial == kWakeSerial) {
      uint64_t value;
      ssize_t ignored = ::read(wake_fd_, &value, sizeof value);
      (void)ignored;
    } else if (serial == kSignalSerial) {
      signalfd_siginfo info;
      while (::read(signal_fd_, &info, sizeof info) == sizeof info) {
        if (signal_handler_) signal_handler_(static_cast<int>(info.ssi_signo));
      }
    } else if (auto watcher = watchers_.find(serial); watcher != watchers_.end()) {
      std::function<void()> callback = watcher->second.onReadable;  // may stop watching
      callback();
    } else {
      DeliverSocketEvents(serial, events[i].events);
    }
  }
  if (!quit_requested_) FireDueTimers();
  if (!quit_requested_) DrainQueue();
}

int EventLoop::Run() {
  while (!quit_requested_) RunOnce(-1);
  return quit_code_;
}

void EventLoop::Quit(int code) {
  quit_code_ = code;
  quit_requested_ = true;
  Wake();
}

}  // namespace qb
