// The machine's IPv4 addresses and news of their changes.
#pragma once

#include <string>
#include <vector>

namespace qb {

struct LocalAddress {
  std::string dotted;
  bool loopback = false;
  // The first address of the first interface that is up and not loopback:
  // the one other machines most likely reach us by.
  bool primary = false;
};

// Every IPv4 address of an interface, in the kernel's order; false when
// the list cannot be read.
bool ListLocalAddresses(std::vector<LocalAddress>* addresses);

// A kernel notification socket for IPv4 address changes (added or
// removed). Wait for Descriptor() to become readable, then call Drain.
class AddressChangeWatch {
 public:
  AddressChangeWatch();
  ~AddressChangeWatch();
  AddressChangeWatch(const AddressChangeWatch&) = delete;
  AddressChangeWatch& operator=(const AddressChangeWatch&) = delete;

  // False with the error number when the socket could not be made.
  bool ok() const { return fd_ >= 0; }
  int error() const { return error_; }
  int Descriptor() const { return fd_; }
  // Reads every notification waiting now; true when one of them told of
  // an address added or removed.
  bool Drain();

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace qb
