#include "platform/endpoint.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/local_trust.h"
#include "platform/places.h"
#include "platform/trace.h"

namespace qb {
namespace {

constexpr size_t kMessageBytes = 20;
std::atomic<uint32_t> g_next_window{1};
std::atomic<uint32_t> g_next_reply{1};

std::string WindowsFolder() {
  std::string folder = RunFolder() + "/windows";
  MakeGroupFolder(folder);
  return folder;
}

bool MakeAddress(const std::string& path, sockaddr_un* address, socklen_t* length) {
  if (path.size() >= sizeof address->sun_path) return false;
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

void PutLe(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | in[i];
  return value;
}

void Encode(uint8_t* out, uint32_t message, uint64_t wParam, int64_t lParam) {
  PutLe(out, message, 4);
  PutLe(out + 4, wParam, 8);
  PutLe(out + 12, static_cast<uint64_t>(lParam), 8);
}

// Sends one message datagram from `fd` to the handle's endpoint.
bool SendDatagram(int fd, uint32_t handle, uint32_t message, uint64_t wParam, int64_t lParam) {
  sockaddr_un target;
  socklen_t length;
  if (!MakeAddress(EndpointPath(handle), &target, &length)) return false;
  uint8_t datagram[kMessageBytes];
  Encode(datagram, message, wParam, lParam);
  return ::sendto(fd, datagram, sizeof datagram, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&target),
                  length) == sizeof datagram;
}

// Waits until `fd` has `events`; false when the deadline passes first or
// `abandonFd` (-1: none) becomes readable.
bool WaitUnless(int fd, short events, int abandonFd,
                std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left < 0) left = 0;
    pollfd entries[2] = {{fd, events, 0}, {abandonFd, POLLIN, 0}};
    int ready = ::poll(entries, abandonFd >= 0 ? 2 : 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    if (abandonFd >= 0 && entries[1].revents != 0) return false;
    return (entries[0].revents & events) != 0;
  }
}

// The credentials the kernel attached to a datagram (SO_PASSCRED), or null.
const ucred* SenderCredentials(msghdr& header) {
  if ((header.msg_flags & MSG_CTRUNC) != 0) return nullptr;
  for (cmsghdr* part = CMSG_FIRSTHDR(&header); part != nullptr; part = CMSG_NXTHDR(&header, part)) {
    if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_CREDENTIALS &&
        part->cmsg_len == CMSG_LEN(sizeof(ucred))) {
      return reinterpret_cast<const ucred*>(CMSG_DATA(part));
    }
  }
  return nullptr;
}

// One trace line per refused account a minute: a flood of messages from
// an outsider costs no trace file.
void TraceRefusedSender(const ucred* credentials) {
  constexpr size_t kSlots = 16;
  constexpr int64_t kQuietMs = 60 * 1000;
  struct Refused {
    int64_t uid = -1;
    int64_t tracedMs = 0;
  };
  static std::mutex mutex;  // endpoints of several loops (tests) share the table
  static Refused refused[kSlots];
  std::lock_guard<std::mutex> lock(mutex);
  const int64_t uid = credentials == nullptr ? -2 : static_cast<int64_t>(credentials->uid);
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  Refused* slot = &refused[0];
  for (Refused& entry : refused) {
    if (entry.uid == uid) {
      slot = &entry;
      break;
    }
    if (entry.tracedMs < slot->tracedMs) slot = &entry;
  }
  if (slot->uid == uid && now - slot->tracedMs < kQuietMs) return;
  *slot = {uid, now};
  if (credentials == nullptr) {
    TraceLog(" Window message without sender credentials dropped");
  } else {
    TraceLog(" Window message from uid %d gid %d pid %d dropped: not this account, root or group %u",
             static_cast<int>(credentials->uid), static_cast<int>(credentials->gid),
             static_cast<int>(credentials->pid), ProgramGroup());
  }
}

}  // namespace

std::string EndpointPath(uint32_t handle) { return WindowsFolder() + "/" + std::to_string(handle); }

WindowEndpoint::WindowEndpoint(EventLoop& loop, Window* window) : loop_(loop), window_(window) {
  // Handles are unique on the machine: the process id with a counter.
  handle_ = (static_cast<uint32_t>(::getpid()) << 8 | (g_next_window++ & 0xFF)) & 0x7FFFFFFF;
  path_ = EndpointPath(handle_);
  sockaddr_un address;
  socklen_t length;
  if (!MakeAddress(path_, &address, &length)) return;
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  // Others can neither reach the folder nor write the socket; the sender
  // of each message is checked as well (OnDatagram), since a member's
  // process may hand its descriptor on.
  ::chmod(path_.c_str(), kGroupFileMode);
  int on = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
  loop_.WatchReadable(fd_, [this] { OnDatagram(); });
}

WindowEndpoint::~WindowEndpoint() {
  if (fd_ < 0) return;
  loop_.StopWatching(fd_);
  ::close(fd_);
  ::unlink(path_.c_str());
  if (!classLink_.empty()) ::unlink(classLink_.c_str());
}

bool WindowEndpoint::RegisterClass(const std::string& className) {
  if (fd_ < 0) return false;
  classLink_ = WindowsFolder() + "/class-" + className;
  ::unlink(classLink_.c_str());
  return ::symlink(std::to_string(handle_).c_str(), classLink_.c_str()) == 0;
}

void WindowEndpoint::OnDatagram() {
  for (;;) {
    uint8_t datagram[64];
    sockaddr_un sender;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec part{datagram, sizeof datagram};
    msghdr header{};
    header.msg_name = &sender;
    header.msg_namelen = sizeof sender;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t got = ::recvmsg(fd_, &header, MSG_CMSG_CLOEXEC);
    if (got < 0) return;
    socklen_t senderLength = header.msg_namelen;
    const ucred* credentials = SenderCredentials(header);
    if (credentials == nullptr ||
        !IsTrustedAccount(static_cast<uint32_t>(credentials->uid),
                          static_cast<uint32_t>(credentials->gid))) {
      TraceRefusedSender(credentials);
      continue;
    }
    if (got != static_cast<ssize_t>(kMessageBytes)) continue;  // not a message: dropped
    uint32_t message = static_cast<uint32_t>(GetLe(datagram, 4));
    uint64_t wParam = GetLe(datagram + 4, 8);
    int64_t lParam = static_cast<int64_t>(GetLe(datagram + 12, 8));
    bool wantsReply = senderLength > offsetof(sockaddr_un, sun_path) && sender.sun_path[0] != '\0';
    if (!wantsReply) {
      loop_.PostMessage(window_, message, wParam, lParam);
      continue;
    }
    int64_t result = window_->HandleMessage(message, wParam, lParam);
    uint8_t reply[8];
    PutLe(reply, static_cast<uint64_t>(result), 8);
    ::sendto(fd_, reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT,
             reinterpret_cast<sockaddr*>(&sender), senderLength);
  }
}

uint32_t FindWindowByClass(const std::string& className) {
  char target[64];
  std::string link = WindowsFolder() + "/class-" + className;
  ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  if (length <= 0) return 0;
  target[length] = '\0';
  char* end = nullptr;
  unsigned long handle = std::strtoul(target, &end, 10);
  if (end == target || *end != '\0' || handle == 0 || handle > 0xFFFFFFFFul) return 0;
  // Only a bound socket answers a connect: a stale file is no window.
  sockaddr_un address;
  socklen_t addressLength;
  if (!MakeAddress(EndpointPath(static_cast<uint32_t>(handle)), &address, &addressLength)) return 0;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  bool alive = ::connect(fd, reinterpret_cast<sockaddr*>(&address), addressLength) == 0;
  ::close(fd);
  return alive ? static_cast<uint32_t>(handle) : 0;
}

bool PostMessageToWindow(uint32_t handle, uint32_t message, uint64_t wParam, int64_t lParam) {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool sent = SendDatagram(fd, handle, message, wParam, lParam);
  ::close(fd);
  return sent;
}

bool SendMessageToWindow(uint32_t handle, uint32_t message, uint64_t wParam, int64_t lParam,
                         int64_t* result, int timeoutMs) {
  return SendMessageToWindowUnless(handle, message, wParam, lParam, result, timeoutMs, -1);
}

bool SendMessageToWindowUnless(uint32_t handle, uint32_t message, uint64_t wParam, int64_t lParam,
                               int64_t* result, int timeoutMs, int abandonFd) {
  sockaddr_un target;
  socklen_t targetLength;
  if (!MakeAddress(EndpointPath(handle), &target, &targetLength)) return false;
  std::string replyPath = WindowsFolder() + "/reply-" + std::to_string(::getpid()) + "-" +
                          std::to_string(g_next_reply++);
  sockaddr_un own;
  socklen_t ownLength;
  if (!MakeAddress(replyPath, &own, &ownLength)) return false;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ::unlink(replyPath.c_str());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool answered = false;
  // Connected, so that a peer whose queue is full (it stopped reading) can
  // be waited for with poll instead of blocking in send without limit.
  if (::bind(fd, reinterpret_cast<sockaddr*>(&own), ownLength) == 0 &&
      ::chmod(replyPath.c_str(), kGroupFileMode) == 0 &&
      ::connect(fd, reinterpret_cast<sockaddr*>(&target), targetLength) == 0) {
    uint8_t datagram[kMessageBytes];
    Encode(datagram, message, wParam, lParam);
    bool sent = false;
    for (;;) {
      ssize_t count = ::send(fd, datagram, sizeof datagram, MSG_NOSIGNAL);
      if (count == static_cast<ssize_t>(sizeof datagram)) {
        sent = true;
        break;
      }
      if (count >= 0 || (errno != EAGAIN && errno != EINTR)) break;
      if (errno == EAGAIN && !WaitUnless(fd, POLLOUT, abandonFd, deadline)) break;
    }
    uint8_t reply[8];
    if (sent && WaitUnless(fd, POLLIN, abandonFd, deadline) &&
        ::recv(fd, reply, sizeof reply, 0) == sizeof reply) {
      if (result != nullptr) *result = static_cast<int64_t>(GetLe(reply, 8));
      answered = true;
    }
  }
  ::close(fd);
  ::unlink(replyPath.c_str());
  return answered;
}

}  // namespace qb
