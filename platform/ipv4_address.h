// An IPv4 socket address from host-order parts, for the socket files of
// this folder (the system's types stay inside platform/).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

namespace qb {

inline sockaddr_in MakeIpv4Address(uint32_t hostOrderAddress, uint16_t port) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.s_addr = htonl(hostOrderAddress);
  return in;
}

}  // namespace qb
