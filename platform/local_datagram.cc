#include "platform/local_datagram.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/local_trust.h"

namespace qb {
namespace {

static_assert(sizeof(sockaddr_un) <= sizeof DatagramSender::address);

bool MakeAddress(const std::string& path, sockaddr_un* address, socklen_t* length) {
  if (path.size() >= sizeof address->sun_path) return false;
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

int NewSocket() { return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

// Waits until `fd` has `events`; false when the deadline passes first or
// `abandonFd` (-1: none) becomes readable.
bool WaitUnless(int fd, short events, int abandonFd, LocalDatagramSocket::Deadline deadline) {
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
const ucred* AttachedCredentials(msghdr& header) {
  if ((header.msg_flags & MSG_CTRUNC) != 0) return nullptr;
  for (cmsghdr* part = CMSG_FIRSTHDR(&header); part != nullptr; part = CMSG_NXTHDR(&header, part)) {
    if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_CREDENTIALS &&
        part->cmsg_len == CMSG_LEN(sizeof(ucred))) {
      return reinterpret_cast<const ucred*>(CMSG_DATA(part));
    }
  }
  return nullptr;
}

}  // namespace

LocalDatagramSocket::~LocalDatagramSocket() {
  if (fd_ >= 0) ::close(fd_);
}

LocalDatagramSocket::LocalDatagramSocket(LocalDatagramSocket&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

LocalDatagramSocket& LocalDatagramSocket::operator=(LocalDatagramSocket&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

LocalDatagramSocket LocalDatagramSocket::Unbound() { return LocalDatagramSocket(NewSocket()); }

LocalDatagramSocket LocalDatagramSocket::BoundTo(const std::string& path, bool senderCredentials) {
  sockaddr_un address;
  socklen_t length;
  if (!MakeAddress(path, &address, &length)) return LocalDatagramSocket();
  LocalDatagramSocket bound(NewSocket());
  if (!bound.ok()) return bound;
  ::unlink(path.c_str());
  if (::bind(bound.fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::chmod(path.c_str(), kGroupFileMode) != 0) {
    ::unlink(path.c_str());
    return LocalDatagramSocket();
  }
  int on = 1;
  if (senderCredentials) ::setsockopt(bound.fd_, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
  return bound;
}

bool LocalDatagramSocket::SendTo(const std::string& path, const void* data, size_t length) {
  sockaddr_un target;
  socklen_t targetLength;
  if (fd_ < 0 || !MakeAddress(path, &target, &targetLength)) return false;
  return ::sendto(fd_, data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&target),
                  targetLength) == static_cast<ssize_t>(length);
}

bool LocalDatagramSocket::Connect(const std::string& path) {
  sockaddr_un target;
  socklen_t targetLength;
  if (fd_ < 0 || !MakeAddress(path, &target, &targetLength)) return false;
  return ::connect(fd_, reinterpret_cast<sockaddr*>(&target), targetLength) == 0;
}

bool LocalDatagramSocket::Send(const void* data, size_t length, int abandonFd, Deadline deadline) {
  for (;;) {
    ssize_t count = ::send(fd_, data, length, MSG_NOSIGNAL);
    if (count == static_cast<ssize_t>(length)) return true;
    if (count >= 0 || (errno != EAGAIN && errno != EINTR)) return false;
    if (errno == EAGAIN && !WaitUnless(fd_, POLLOUT, abandonFd, deadline)) return false;
  }
}

bool LocalDatagramSocket::Receive(void* data, size_t length, int abandonFd, Deadline deadline) {
  return WaitUnless(fd_, POLLIN, abandonFd, deadline) &&
         ::recv(fd_, data, length, 0) == static_cast<ssize_t>(length);
}

long LocalDatagramSocket::ReceiveFrom(void* data, size_t capacity, DatagramSender* sender) {
  sockaddr_un from;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
  iovec part{data, capacity};
  msghdr header{};
  header.msg_name = &from;
  header.msg_namelen = sizeof from;
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  ssize_t got = ::recvmsg(fd_, &header, MSG_CMSG_CLOEXEC);
  if (got < 0) return -1;
  *sender = DatagramSender{};
  if (const ucred* credentials = AttachedCredentials(header)) {
    sender->hasCredentials = true;
    sender->uid = static_cast<uint32_t>(credentials->uid);
    sender->gid = static_cast<uint32_t>(credentials->gid);
    sender->pid = static_cast<int32_t>(credentials->pid);
  }
  sender->hasReturnPath =
      header.msg_namelen > offsetof(sockaddr_un, sun_path) && from.sun_path[0] != '\0';
  std::memcpy(sender->address, &from, sizeof from);
  sender->addressLength = header.msg_namelen;
  return static_cast<long>(got);
}

void LocalDatagramSocket::Answer(const DatagramSender& sender, const void* data, size_t length) {
  if (!sender.hasReturnPath) return;
  ::sendto(fd_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT,
           reinterpret_cast<const sockaddr*>(sender.address),
           static_cast<socklen_t>(sender.addressLength));
}

bool MakeSymbolicLink(const std::string& target, const std::string& path) {
  ::unlink(path.c_str());
  return ::symlink(target.c_str(), path.c_str()) == 0;
}

std::string ReadSymbolicLink(const std::string& path) {
  char target[256];
  ssize_t length = ::readlink(path.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return std::string();
  return std::string(target, static_cast<size_t>(length));
}

}  // namespace qb
