// Hardware addresses of IPv4 neighbours, from the kernel's neighbour table.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qb {

constexpr int kErrorGenFailure = 31;  // on-link, but nobody answered
constexpr int kErrorBadNetName = 67;  // no on-link route: loopback, via a gateway, no route
constexpr int kErrorOperationAborted = 995;  // the resolver was stopped during the wait
constexpr int kErrorIoPending = 997;  // only waiting for the neighbour's answer can tell

// The hardware address of a complete neighbour-table entry (host order
// IPv4 address); false when there is none or the table cannot be read.
// `tableReadable` (may be null) tells whether the table could be read.
bool LookupNeighbour(uint32_t address, uint8_t mac[6], bool* tableReadable = nullptr);

// Asks the kernel to resolve the neighbour and waits up to 1 s. Returns 0
// with the 6-byte address and *length = 6, or kErrorBadNetName /
// kErrorGenFailure.
int ResolveNeighbour(uint32_t address, uint8_t mac[6], uint32_t* length);
// The same, ending early with kErrorOperationAborted when `abandonFd` (-1:
// none) becomes readable.
int ResolveNeighbourUnless(uint32_t address, uint8_t mac[6], uint32_t* length, int abandonFd);
// ResolveNeighbour's answer when it needs no wait (0 or kErrorBadNetName);
// kErrorIoPending when only asking the neighbour could tell.
int ResolveNeighbourNow(uint32_t address, uint8_t mac[6], uint32_t* length);

struct NeighbourAnswer {
  int error;  // as ResolveNeighbour returns it
  uint8_t mac[6];
  uint32_t length;
};

// Resolutions on a worker thread of their own, so that the caller never
// waits the second a silent neighbour costs. One resolution runs at a time,
// in the order asked; requests for an address that is already waiting or
// being resolved share its answer.
class NeighbourResolver {
 public:
  using Done = std::function<void(const NeighbourAnswer&)>;

  NeighbourResolver();
  // Abandons the resolution under way and those waiting: their callbacks
  // are not called. A callback already running is waited for.
  ~NeighbourResolver();
  NeighbourResolver(const NeighbourResolver&) = delete;
  NeighbourResolver& operator=(const NeighbourResolver&) = delete;

  // Any thread; never waits. `done` is called on the worker thread (post
  // from there to the thread that needs the answer).
  void Resolve(uint32_t address, Done done);

 private:
  void Work();

  int abandon_fd_ = -1;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<uint32_t> order_;
  std::unordered_map<uint32_t, std::vector<Done>> waiting_;
  uint32_t in_progress_ = 0;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace qb
