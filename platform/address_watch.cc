#include "platform/address_watch.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qb {

bool ListLocalAddresses(std::vector<LocalAddress>* addresses) {
  addresses->clear();
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool havePrimary = false;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    LocalAddress address;
    address.dotted = text;
    address.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    if (!havePrimary && !address.loopback && (entry->ifa_flags & IFF_UP) != 0) {
      address.primary = havePrimary = true;
    }
    addresses->push_back(std::move(address));
  }
  ::freeifaddrs(list);
  return true;
}

AddressChangeWatch::AddressChangeWatch() {
  fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_IPV4_IFADDR;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    error_ = errno;
    ::close(fd_);
    fd_ = -1;
  }
}

AddressChangeWatch::~AddressChangeWatch() {
  if (fd_ >= 0) ::close(fd_);
}

bool AddressChangeWatch::Drain() {
  bool changed = false;
  alignas(nlmsghdr) char buffer[8192];
  for (;;) {
    ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == ENOBUFS) {
      changed = true;  // notifications were lost: something changed
      continue;
    }
    if (got <= 0) break;
    size_t left = static_cast<size_t>(got);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
      if (message->nlmsg_type == RTM_NEWADDR || message->nlmsg_type == RTM_DELADDR) changed = true;
    }
  }
  return changed;
}

}  // namespace qb
