#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ipv4_address.h"

namespace qb {
namespace {

thread_local int t_last_error = 0;

int Fail() {
  t_last_error = WsaErrorFromErrno(errno);
  return -1;
}

}  // namespace

int WsaErrorFromErrno(int error) {
  switch (error) {
    case EINTR:
      return kWsaEInterrupted;
    case EBADF:
      return kWsaEBadf;
    case EACCES:
    case EPERM:
      return kWsaEAccess;
    case EFAULT:
      return kWsaEFault;
    case EINVAL:
      return kWsaEInval;
    case EMFILE:
    case ENFILE:
      return kWsaEMFile;
    case EAGAIN:
      return kWsaEWouldBlock;
    case EMSGSIZE:
      return kWsaEMsgSize;
    case EADDRINUSE:
      return kWsaEAddrInUse;
    case EADDRNOTAVAIL:
      return kWsaEAddrNotAvail;
    case ENETDOWN:
      return kWsaENetDown;
    case ENETUNREACH:
      return kWsaENetUnreach;
    case ECONNABORTED:
      return kWsaEConnAborted;
    case ECONNRESET:
    case EPIPE:
      return kWsaEConnReset;
    case ENOBUFS:
    case ENOMEM:
      return kWsaENoBufs;
    case ENOTCONN:
      return kWsaENotConn;
    case ESHUTDOWN:
      return kWsaEShutdown;
    case ETIMEDOUT:
      return kWsaETimedOut;
    case ECONNREFUSED:
      return kWsaEConnRefused;
    case EHOSTUNREACH:
      return kWsaEHostUnreach;
    default:
      return 10000 + error;
  }
}

int LastSocketError() { return t_last_error; }

void SetLastSocketError(int error) { t_last_error = error; }

std::string DottedAddress(uint32_t hostOrderAddress) {
  char text[INET_ADDRSTRLEN];
  in_addr in{htonl(hostOrderAddress)};
  ::inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

bool ParseDottedAddress(const char* text, uint32_t* hostOrderAddress) {
  in_addr in{};
  if (::inet_pton(AF_INET, text, &in) != 1) return false;
  *hostOrderAddress = ntohl(in.s_addr);
  return true;
}

int MaxListenBacklog() { return SOMAXCONN; }

bool StreamSocketPair(int sockets[2], bool nonBlocking) {
  const int type = SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
  return ::socketpair(AF_UNIX, type, 0, sockets) == 0;
}

int TcpListen(uint16_t port, int backlog) { return TcpListenAt(INADDR_ANY, port, backlog); }

int TcpListenAt(uint32_t hostOrderAddress, uint16_t port, int backlog) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail();
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = MakeIpv4Address(hostOrderAddress, port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, backlog) != 0) {
    int result = Fail();
    ::close(fd);
    return result;
  }
  return fd;
}

int TcpAccept(int listener, Ipv4Peer* peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&address), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return Fail();
  if (peer != nullptr) {
    peer->address = ntohl(address.sin_addr.s_addr);
    peer->port = ntohs(address.sin_port);
  }
  return fd;
}

int TcpConnect(uint32_t address, uint16_t port, uint32_t localAddress) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail();
  if (localAddress != 0) {
    // The port is the system's pick, and may be a port a server here wants
    // next (37100, 37101): marked reusable, this connection's TIME_WAIT
    // never keeps that server from listening, and the port is chosen only
    // at connect, from the whole four-tuple.
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
    sockaddr_in local = MakeIpv4Address(localAddress, 0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      int result = Fail();
      ::close(fd);
      return result;
    }
  }
  sockaddr_in remote = MakeIpv4Address(address, port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    int result = Fail();
    ::close(fd);
    return result;
  }
  return fd;
}

int TcpConnectStart(uint32_t address, uint16_t port, bool* inProgress) {
  *inProgress = false;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail();
  sockaddr_in remote = MakeIpv4Address(address, port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    if (errno == EINPROGRESS) {
      *inProgress = true;
      return fd;
    }
    int result = Fail();
    ::close(fd);
    return result;
  }
  return fd;
}

int ConnectResult(int socket) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  return error == 0 ? 0 : WsaErrorFromErrno(error);
}

namespace {

bool EndOf(int socket, Ipv4Peer* end, bool peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  int result = peer ? ::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length)
                    : ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
  if (result != 0 || address.sin_family != AF_INET) return false;
  end->address = ntohl(address.sin_addr.s_addr);
  end->port = ntohs(address.sin_port);
  return true;
}

}  // namespace

bool SocketLocalEnd(int socket, Ipv4Peer* end) { return EndOf(socket, end, false); }
bool SocketPeerEnd(int socket, Ipv4Peer* end) { return EndOf(socket, end, true); }

bool PeerHasClosed(int socket) {
  pollfd entry{socket, POLLRDHUP, 0};
  if (::poll(&entry, 1, 0) <= 0) return false;
  return (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

long SockRecv(int socket, void* buffer, size_t length) {
  ssize_t got = ::recv(socket, buffer, length, 0);
  if (got < 0) return Fail();
  return got;
}

long SockSend(int socket, const void* buffer, size_t length) {
  ssize_t put = ::send(socket, buffer, length, MSG_NOSIGNAL);
  if (put < 0) return Fail();
  return put;
}

void SockShutdown(int socket, ShutdownHow how) {
  int mode = how == kShutReceive ? SHUT_RD : how == kShutSend ? SHUT_WR : SHUT_RDWR;
  ::shutdown(socket, mode);
}

void SockClose(int socket) { ::close(socket); }

void SetReceiveBufferSize(int socket, int bytes) {
  ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void SetSendBufferSize(int socket, int bytes) {
  ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

void SetNoDelay(int socket) {
  int on = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void SetBlocking(int socket, bool blocking) {
  int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0) return;
  ::fcntl(socket, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

uint16_t LocalPort(int socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

bool WaitReadable(int socket, int timeoutMs) {
  pollfd entry{socket, POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) > 0;
}

std::string LocalHostNameText() {
  char name[256] = "";
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string FirstAddressOfHost(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0) return "";
  std::string text;
  if (result != nullptr && result->ai_addr != nullptr) {
    auto* in = reinterpret_cast<sockaddr_in*>(result->ai_addr);
    text = DottedAddress(ntohl(in->sin_addr.s_addr));
  }
  ::freeaddrinfo(result);
  return text;
}

}  // namespace qb
