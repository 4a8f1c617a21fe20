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

namespace qb {

struct Reply {
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  int64_t result = 0;
};

namespace {

constexpr uint64_t kWakeSerial = 1;
constexpr uint64_t kSignalSerial = 2;
constexpr int kReadRoundsPerWakeup = 16;

thread_local EventLoop* t_current_loop = nullptr;

int BytesPending(int socket) {
  int pending = 0;
  if (::ioctl(socket, FIONREAD, &pending) != 0) return 0;
  return pending;
}

void Answer(Reply* reply, int64_t result) {
  if (reply == nullptr) return;
  std::lock_guard<std::mutex> lock(reply->mutex);
  reply->result = result;
  reply->done = true;
  reply->done_signal.notify_one();
}

}  // namespace

EventLoop::EventLoop(const Clock* clock)
    : clock_(clock != nullptr ? clock : SystemClock::Instance()),
      owner_(std::this_thread::get_id()) {
  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWakeSerial;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &event);
  t_current_loop = this;
}

EventLoop::~EventLoop() {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    for (Posted& posted : queue_) Answer(posted.reply, 0);
    queue_.clear();
  }
  if (signal_fd_ >= 0) ::close(signal_fd_);
  ::close(wake_fd_);
  ::close(epoll_fd_);
  if (t_current_loop == this) t_current_loop = nullptr;
}

EventLoop* EventLoop::Current() { return t_current_loop; }

void EventLoop::AsyncSelect(int socket, Window* window, uint32_t message, uint32_t mask) {
  auto found = by_socket_.find(socket);
  if (mask == 0) {
    if (found != by_socket_.end()) Forget(socket);
    return;
  }
  if (found == by_socket_.end()) {
    Registration registration{next_serial_++, socket, window, message, mask, true,
                              true,           true,   false,  false,   0};
    found = by_socket_.emplace(socket, registration).first;
    socket_of_serial_[registration.serial] = socket;
  } else {
    // A new selection re-enables every event, as a fresh registration does.
    found->second.window = window;
    found->second.message = message;
    found->second.mask = mask;
    found->second.readArmed = found->second.acceptArmed = found->second.writeArmed = true;
  }
  UpdateInterest(found->second);
}

void EventLoop::UpdateInterest(Registration& r) {
  uint32_t wanted = 0;
  if (!r.closeDelivered) {
    if ((r.mask & FD_READ) && r.readArmed) wanted |= EPOLLIN;
    if ((r.mask & FD_ACCEPT) && r.acceptArmed) wanted |= EPOLLIN;
    // Hang-up is only watched while it can be delivered; otherwise a closed
    // peer with unread data would wake the loop forever.
    if ((r.mask & FD_CLOSE) && (r.readArmed || !(r.mask & FD_READ))) wanted |= EPOLLRDHUP;
  }
  if ((r.mask & (FD_WRITE | FD_CONNECT)) && r.writeArmed) wanted |= EPOLLOUT;
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
void EventLoop::NoteReceiveCalled(int socket) {
  auto found = by_socket_.find(socket);
  if (found == by_socket_.end() || found->second.readArmed) return;
  found->second.readArmed = true;
  UpdateInterest(found->second);
}

void EventLoop::NoteReceiveFilled(int socket) {
  auto found = by_socket_.find(socket);
  if (found != by_socket_.end()) found->second.moreLikely = true;
}

void EventLoop::NoteAcceptSucceeded(int socket) {
  auto found = by_socket_.find(socket);
  if (found != by_socket_.end()) found->second.moreLikely = true;
}

void EventLoop::NoteAcceptCalled(int socket) {
  auto found = by_socket_.find(socket);
  if (found == by_socket_.end() || found->second.acceptArmed) return;
  found->second.acceptArmed = true;
  UpdateInterest(found->second);
}

void EventLoop::NoteSendWouldBlock(int socket) {
  auto found = by_socket_.find(socket);
  if (found == by_socket_.end() || found->second.writeArmed) return;
  found->second.writeArmed = true;
  UpdateInterest(found->second);
}

void EventLoop::Deliver(Registration& r, uint32_t event) {
  // Copy what the call needs: the handler may forget the registration.
  Window* window = r.window;
  uint32_t message = r.message;
  int socket = r.socket;
  window->HandleMessage(message, static_cast<uint64_t>(socket), static_cast<int64_t>(event));
}

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
  if ((events & EPOLLOUT) && (r->mask & (FD_WRITE | FD_CONNECT))) {
    if (r->writeArmed) {
      r->writeArmed = false;
      if (r->mask & FD_WRITE) Deliver(*r, FD_WRITE);
      if ((r = lookup()) == nullptr) return;
    }
    if (!r->writeArmed) UpdateInterest(*r);  // writable stays true: stop watching it
  }

  bool hangup = (events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0;
  if ((r->mask & FD_ACCEPT) && (events & EPOLLIN)) {
    // As with reads: while accepts succeed, more callers are probably
    // queued, and a listener's queue is short; take them while they wait.
    for (int round = 0; round < kReadRoundsPerWakeup && r->acceptArmed; ++round) {
      r->acceptArmed = false;
      r->moreLikely = false;
      Deliver(*r, FD_ACCEPT);
      if ((r = lookup()) == nullptr) return;
      if (!r->moreLikely) break;
    }
    if (!r->acceptArmed) UpdateInterest(*r);
    return;
  }

  // Data pending is asked of the kernel only when the peer may be gone.
  int pending = hangup ? BytesPending(r->socket) : 1;
  if (events & EPOLLIN) {
    bool deliverRead =
        (r->mask & FD_READ) && r->readArmed && (pending > 0 || !(r->mask & FD_CLOSE));
    if (deliverRead) {
      // While the handler keeps receiving whole requests, more data is
      // almost surely waiting: announce it again at once instead of asking
      // epoll, a few times before other sockets get their turn. A guess
      // that was wrong costs the handler one receive that would block,
      // which every read handler already expects.
      for (int round = 0; round < kReadRoundsPerWakeup; ++round) {
        r->readArmed = false;
        r->moreLikely = false;
        Deliver(*r, FD_READ);
        if ((r = lookup()) == nullptr) return;
        if (!r->readArmed || !r->moreLikely || r->closeDelivered) break;
      }
      if (hangup) pending = BytesPending(r->socket);
    } else if ((r->mask & FD_READ) && !r->readArmed) {
      UpdateInterest(*r);  // reported again before a receive: stop watching it
    }
  }

  if (hangup && (r->mask & FD_CLOSE) && !r->closeDelivered &&
      (pending == 0 || !(r->mask & FD_READ))) {
    r->closeDelivered = true;
    UpdateInterest(*r);
    Deliver(*r, FD_CLOSE);
  } else if (hangup) {
    UpdateInterest(*r);
  }
}

void EventLoop::PostMessage(Window* window, uint32_t message, uint64_t wParam, int64_t lParam) {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queue_.push_back({window, message, wParam, lParam, nullptr});
  }
  Wake();
}

int64_t EventLoop::SendMessage(Window* window, uint32_t message, uint64_t wParam, int64_t lParam) {
  if (std::this_thread::get_id() == owner_) return window->HandleMessage(message, wParam, lParam);
  Reply reply;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queue_.push_back({window, message, wParam, lParam, &reply});
  }
  Wake();
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
    Posted posted;
    {
      std::lock_guard<std::mutex> lock(queue_mutex_);
      if (queue_.empty()) break;
      posted = queue_.front();
      queue_.pop_front();
    }
    int64_t result = posted.window->HandleMessage(posted.message, posted.wParam, posted.lParam);
    Answer(posted.reply, result);
    delivered = true;
    if (quit_requested_) break;
  }
  return delivered;
}

void EventLoop::SetTimer(Window* window, uint64_t id, uint32_t periodMs) {
  timers_[TimerKey{window, id}] = Timer{periodMs, clock_->NowMs() + periodMs};
}

void EventLoop::KillTimer(Window* window, uint64_t id) { timers_.erase(TimerKey{window, id}); }

int64_t EventLoop::NextTimerDue() const {
  int64_t next = LLONG_MAX;
  for (const auto& [key, timer] : timers_) {
    if (timer.due < next) next = timer.due;
  }
  return next;
}

void EventLoop::FireDueTimers() {
  int64_t now = clock_->NowMs();
  std::vector<TimerKey> due;
  for (const auto& [key, timer] : timers_) {
    if (timer.due <= now) due.push_back(key);
  }
  for (const TimerKey& key : due) {
    auto found = timers_.find(key);
    if (found == timers_.end() || found->second.due > now) continue;  // killed or reset
    // One message however late the timer is, as window timers do.
    found->second.due = now + found->second.periodMs;
    key.window->HandleMessage(WM_TIMER, key.id, 0);
  }
}

void EventLoop::RemoveWindow(Window* window) {
  for (auto it = timers_.begin(); it != timers_.end();) {
    it = it->first.window == window ? timers_.erase(it) : std::next(it);
  }
  std::vector<int> sockets;
  for (const auto& [socket, registration] : by_socket_) {
    if (registration.window == window) sockets.push_back(socket);
  }
  for (int socket : sockets) Forget(socket);
  std::lock_guard<std::mutex> lock(queue_mutex_);
  for (auto it = queue_.begin(); it != queue_.end();) {
    if (it->window == window) {
      Answer(it->reply, 0);
      it = queue_.erase(it);
    } else {
      ++it;
    }
  }
}

void EventLoop::WatchTerminationSignals(std::function<void(int)> handler) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
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
  int64_t next = NextTimerDue();
  if (next != LLONG_MAX) {
    int64_t untilDue = next - clock_->NowMs();
    if (untilDue < 0) untilDue = 0;
    if (wait < 0 || untilDue < wait) wait = static_cast<int>(untilDue);
  }

  epoll_event events[64];
  int count = ::epoll_wait(epoll_fd_, events, 64, wait);
  // Listeners first: their queues are short, and a connection left waiting
  // behind a burst of data is a printer whose handshake the kernel drops.
  std::stable_partition(events, events + count, [this](const epoll_event& event) {
    uint64_t serial = event.data.u64;  // epoll_event is packed: no reference into it
    auto found = socket_of_serial_.find(serial);
    return found != socket_of_serial_.end() && (by_socket_.at(found->second).mask & FD_ACCEPT);
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
