#include "platform/udp.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/address_watch.h"
#include "platform/ipv4_address.h"

namespace qb {
namespace {

long Failed() {
  SetLastSocketError(WsaErrorFromErrno(errno));
  return -1;
}

}  // namespace

int UdpOpen() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return static_cast<int>(Failed());
  return fd;
}

bool UdpBind(int socket, uint16_t port) {
  sockaddr_in address = MakeIpv4Address(INADDR_ANY, port);
  if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
  Failed();
  return false;
}

int UdpOpenBroadcast() {
  int fd = UdpOpen();
  if (fd < 0) return -1;
  int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    Failed();
    ::close(fd);
    return -1;
  }
  return fd;
}

long UdpReceiveFrom(int socket, void* buffer, size_t length, Ipv4Peer* sender) {
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  ssize_t got = ::recvfrom(socket, buffer, length, 0, reinterpret_cast<sockaddr*>(&from),
                           &fromLength);
  if (got < 0) return Failed();
  if (sender != nullptr) {
    const bool ipv4 = fromLength >= sizeof from && from.sin_family == AF_INET;
    sender->address = ipv4 ? ntohl(from.sin_addr.s_addr) : 0;
    sender->port = ipv4 ? ntohs(from.sin_port) : 0;
  }
  return got;
}

long UdpSendTo(int socket, const void* data, size_t length, uint32_t address, uint16_t port) {
  sockaddr_in to = MakeIpv4Address(address, port);
  ssize_t put = ::sendto(socket, data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to),
                         sizeof to);
  if (put < 0) return Failed();
  return put;
}

bool IsNeverUnicast(uint32_t address) {
  return address == 0 || address >= 0xE0000000u;  // 224.0.0.0 and everything above
}

std::vector<uint32_t> LocalBroadcastAddresses(size_t max) {
  std::vector<uint32_t> found;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return found;
  for (ifaddrs* entry = list; entry != nullptr && found.size() < max; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_BROADCAST) == 0 || entry->ifa_broadaddr == nullptr) continue;
    const auto* broadcast = reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr);
    uint32_t address = ntohl(broadcast->sin_addr.s_addr);
    if (address != 0 && std::find(found.begin(), found.end(), address) == found.end()) {
      found.push_back(address);
    }
  }
  ::freeifaddrs(list);
  return found;
}

HostAddressLookup LocalHostAddresses(std::string* hostName, std::vector<std::string>* addresses,
                                     int* error) {
  hostName->clear();
  addresses->clear();
  char name[80] = {};
  if (::gethostname(name, sizeof name - 1) != 0) {
    *error = WsaErrorFromErrno(errno);
    return HostAddressLookup::kNoHostName;
  }
  *hostName = name;
  // The addresses of the interfaces, not a resolver lookup of the name: a
  // lookup may wait for a name server (this runs on the event loop), and
  // on Debian it answers the fixed 127.0.1.1 of /etc/hosts, so an address
  // change would never be seen. The interface list is what a lookup of
  // its own name gives a Windows machine.
  std::vector<LocalAddress> local;
  if (!ListLocalAddresses(&local)) return HostAddressLookup::kBadLookup;
  for (const LocalAddress& address : local) {
    if (address.dotted.rfind("127.", 0) == 0) continue;
    if (std::find(addresses->begin(), addresses->end(), address.dotted) == addresses->end()) {
      addresses->push_back(address.dotted);
    }
  }
  // Without a network the name stands for the machine itself.
  if (addresses->empty()) addresses->push_back("127.0.0.1");
  return HostAddressLookup::kOk;
}

}  // namespace qb
