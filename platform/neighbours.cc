#include "platform/neighbours.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/worker_thread.h"

namespace qb {
namespace {

constexpr unsigned kRouteGateway = 0x0002;
constexpr unsigned kRouteUp = 0x0001;
constexpr unsigned kNeighbourComplete = 0x2;

bool IsOwnAddress(uint32_t address) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool own = false;
  for (ifaddrs* entry = list; entry != nullptr && !own; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    auto* in = reinterpret_cast<sockaddr_in*>(entry->ifa_addr);
    own = ntohl(in->sin_addr.s_addr) == address;
  }
  ::freeifaddrs(list);
  return own;
}

// Whether the main routing table reaches the address directly on an
// interface that can resolve neighbours (the longest matching prefix wins).
bool HasOnLinkRoute(uint32_t address) {
  std::FILE* routes = std::fopen("/proc/net/route", "r");
  if (routes == nullptr) return false;
  char line[512];
  int bestLength = -1;
  bool bestOnLink = false;
  // The header line does not parse as a route and is skipped with the rest.
  while (std::fgets(line, sizeof line, routes) != nullptr) {
    char device[64];
    unsigned destination, gateway, flags, mask;
    if (std::sscanf(line, "%63s %x %x %x %*d %*d %*d %x", device, &destination, &gateway, &flags,
                    &mask) != 5) {
      continue;
    }
    if (!(flags & kRouteUp)) continue;
    // The file holds addresses in network order, read as host integers.
    uint32_t net = ntohl(destination), netmask = ntohl(mask);
    if ((address & netmask) != net) continue;
    int length = __builtin_popcount(netmask);
    if (length <= bestLength) continue;
    bestLength = length;
    bestOnLink = !(flags & kRouteGateway) && std::strcmp(device, "lo") != 0;
  }
  std::fclose(routes);
  return bestLength >= 0 && bestOnLink;
}

}  // namespace

bool LookupNeighbour(uint32_t address, uint8_t mac[6], bool* tableReadable) {
  std::FILE* table = std::fopen("/proc/net/arp", "r");
  if (tableReadable != nullptr) *tableReadable = table != nullptr;
  if (table == nullptr) return false;
  char line[512];
  bool found = false;
  // The header line does not parse as an entry and is skipped with the rest.
  while (!found && std::fgets(line, sizeof line, table) != nullptr) {
    char ip[64], hardware[64];
    unsigned type, flags;
    if (std::sscanf(line, "%63s 0x%x 0x%x %63s", ip, &type, &flags, hardware) != 4) continue;
    in_addr parsed{};
    if (::inet_pton(AF_INET, ip, &parsed) != 1 || ntohl(parsed.s_addr) != address) continue;
    if (!(flags & kNeighbourComplete)) continue;
    unsigned bytes[6];
    if (std::sscanf(hardware, "%x:%x:%x:%x:%x:%x", &bytes[0], &bytes[1], &bytes[2], &bytes[3],
                    &bytes[4], &bytes[5]) != 6) {
      continue;
    }
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(bytes[i]);
    found = true;
  }
  std::fclose(table);
  return found;
}

int ResolveNeighbourNow(uint32_t address, uint8_t mac[6], uint32_t* length) {
  *length = 0;
  if ((address >> 24) == 127 || IsOwnAddress(address) || !HasOnLinkRoute(address)) {
    return kErrorBadNetName;
  }
  if (LookupNeighbour(address, mac)) {
    *length = 6;
    return 0;
  }
  return kErrorIoPending;
}

int ResolveNeighbour(uint32_t address, uint8_t mac[6], uint32_t* length) {
  return ResolveNeighbourUnless(address, mac, length, -1);
}

int ResolveNeighbourUnless(uint32_t address, uint8_t mac[6], uint32_t* length, int abandonFd) {
  int quick = ResolveNeighbourNow(address, mac, length);
  if (quick != kErrorIoPending) return quick;
  // Neighbour-table changes are announced on a netlink socket: waiting on
  // it wakes us when the answer arrives instead of polling the table.
  int watch = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (watch >= 0) {
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_NEIGH;
    if (::bind(watch, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ::close(watch);
      watch = -1;
    }
  }
  // An empty datagram to the discard port makes the kernel resolve the
  // neighbour; the answer shows up in the table.
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(9);
    target.sin_addr.s_addr = htonl(address);
    ::sendto(fd, "", 0, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&target), sizeof target);
    ::close(fd);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  int result = kErrorGenFailure;
  for (;;) {
    if (LookupNeighbour(address, mac)) {
      *length = 6;
      result = 0;
      break;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    // Without the netlink socket the table is polled every 50 ms.
    pollfd entries[2] = {{watch, POLLIN, 0}, {abandonFd, POLLIN, 0}};
    int wait = watch < 0 ? static_cast<int>(left < 50 ? left : 50) : static_cast<int>(left);
    if (::poll(entries, 2, wait) > 0) {
      if (entries[1].revents != 0) {
        result = kErrorOperationAborted;
        break;
      }
      char scrap[8192];
      while (watch >= 0 && ::recv(watch, scrap, sizeof scrap, 0) > 0) {
      }
    }
  }
  if (watch >= 0) ::close(watch);
  return result;
}

NeighbourResolver::NeighbourResolver() {
  abandon_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  worker_ = StartWorkerThread([this] { Work(); });
}

NeighbourResolver::~NeighbourResolver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  uint64_t one = 1;
  ssize_t written = ::write(abandon_fd_, &one, sizeof one);
  (void)written;  // failing that, the resolution under way ends within its second
  wake_.notify_all();
  worker_.join();
  if (abandon_fd_ >= 0) ::close(abandon_fd_);
}

void NeighbourResolver::Resolve(uint32_t address, Done done) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return;
  std::vector<Done>& waiting = waiting_[address];
  if (waiting.empty() && address != in_progress_) order_.push_back(address);
  waiting.push_back(std::move(done));
  wake_.notify_one();
}

void NeighbourResolver::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !order_.empty(); });
    if (stopping_) return;
    uint32_t address = order_.front();
    order_.pop_front();
    in_progress_ = address;
    lock.unlock();
    NeighbourAnswer answer{};
    answer.error = ResolveNeighbourUnless(address, answer.mac, &answer.length, abandon_fd_);
    lock.lock();
    in_progress_ = 0;
    if (stopping_) return;
    // Requests that came in during the resolution share its answer.
    std::vector<Done> callers;
    callers.swap(waiting_[address]);
    waiting_.erase(address);
    lock.unlock();
    for (Done& done : callers) done(answer);
    lock.lock();
  }
}

}  // namespace qb
