// IPv4 datagram sockets (the name service): non-blocking, with errors in
// the WinSock numbering of net.h (LastSocketError), and what a responder
// needs to know about the machine's own addresses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/net.h"

namespace qb {

// A non-blocking IPv4 datagram socket, not yet bound; -1 on failure.
// Creating and binding are separate steps because their failures are
// reported differently.
int UdpOpen();
// Binds the socket to `port` (0: a free port the system picks) of every
// local address. Without SO_REUSEADDR: a second receiver on the machine
// must fail to bind instead of sharing the port and its requests.
bool UdpBind(int socket, uint16_t port);
// A datagram socket allowed to send to broadcast addresses; -1 on failure.
int UdpOpenBroadcast();

// Receives one datagram into buffer; a longer datagram is cut to `length`
// (the rest is lost, as with any datagram socket). Bytes received (0 for
// an empty datagram), or -1 (kWsaEWouldBlock when none is waiting).
long UdpReceiveFrom(int socket, void* buffer, size_t length, Ipv4Peer* sender);
// Sends one datagram to address:port (host order); bytes sent or -1.
long UdpSendTo(int socket, const void* data, size_t length, uint32_t address, uint16_t port);

// An address no reply may go to, whatever a datagram claims as its sender:
// 0.0.0.0, the limited broadcast, multicast (224.0.0.0/4) and the reserved
// range above it. Directed subnet broadcasts need the interface table: see
// LocalBroadcastAddresses.
bool IsNeverUnicast(uint32_t hostOrderAddress);
// The broadcast addresses of the machine's IPv4 interfaces (host order),
// at most `max` of them.
std::vector<uint32_t> LocalBroadcastAddresses(size_t max);

// The machine's host name and its IPv4 addresses: those of its interfaces
// in the kernel's order without repeats, loopback addresses left out
// (127.0.0.1 alone when nothing else is configured).
enum class HostAddressLookup { kOk, kNoHostName, kBadLookup };
// `error` gets the WinSock number when the host name itself cannot be read.
HostAddressLookup LocalHostAddresses(std::string* hostName, std::vector<std::string>* addresses,
                                     int* error);

}  // namespace qb
