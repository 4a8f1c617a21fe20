// TCP sockets for the scan protocol: non-blocking, with errors reported in
// the WinSock numbering that the traces and results use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qb {

// WinSock error numbers kept in traces and results.
constexpr int kWsaEInterrupted = 10004;
constexpr int kWsaEBadf = 10009;
constexpr int kWsaEAccess = 10013;
constexpr int kWsaEFault = 10014;
constexpr int kWsaEInval = 10022;
constexpr int kWsaEMFile = 10024;
constexpr int kWsaEWouldBlock = 10035;
constexpr int kWsaEMsgSize = 10040;
constexpr int kWsaEAddrInUse = 10048;
constexpr int kWsaEAddrNotAvail = 10049;
constexpr int kWsaENetDown = 10050;
constexpr int kWsaENetUnreach = 10051;
constexpr int kWsaEConnAborted = 10053;
constexpr int kWsaEConnReset = 10054;
constexpr int kWsaENoBufs = 10055;
constexpr int kWsaENotConn = 10057;
constexpr int kWsaEShutdown = 10058;
constexpr int kWsaETimedOut = 10060;
constexpr int kWsaEConnRefused = 10061;
constexpr int kWsaEHostUnreach = 10065;

// Maps an errno value to its WinSock number.
int WsaErrorFromErrno(int error);
// WinSock number of the last failed socket call on this thread.
int LastSocketError();
// Sets it, for a stand-in that fails as a socket call would.
void SetLastSocketError(int error);

// Peer IPv4 address in host order.
struct Ipv4Peer {
  uint32_t address = 0;
  uint16_t port = 0;
};

std::string DottedAddress(uint32_t hostOrderAddress);
// Parses dotted IPv4 text; false when it is not one.
bool ParseDottedAddress(const char* text, uint32_t* hostOrderAddress);

// A non-blocking IPv4 listener on `port` of every local address; -1 on
// failure (LastSocketError tells why).
// The longest listen queue the system allows: a burst of connections is
// then served without the kernel's SYN retransmission delays.
int MaxListenBacklog();
int TcpListen(uint16_t port, int backlog);
// The same on one local address (host order; 0 = every address).
int TcpListenAt(uint32_t hostOrderAddress, uint16_t port, int backlog);
// A connected pair of local stream sockets (in-process drivers and tests);
// non-blocking when asked. False on failure.
bool StreamSocketPair(int sockets[2], bool nonBlocking);
// Accepts one connection as a non-blocking socket; -1 on failure.
int TcpAccept(int listener, Ipv4Peer* peer);
// Connects (blocking) to address:port, optionally from a local address
// (host order, 0 = any); -1 on failure. For tools and tests.
int TcpConnect(uint32_t address, uint16_t port, uint32_t localAddress = 0);

// Starts a non-blocking connect to address:port; the socket, or -1 on
// failure. `inProgress` tells whether the caller must wait for
// writability and then ask ConnectResult.
int TcpConnectStart(uint32_t address, uint16_t port, bool* inProgress);
// Outcome of a connect once the socket became writable: 0 connected, else
// the WinSock error number.
int ConnectResult(int socket);
// The two ends of a connected (or bound) IPv4 socket; false when the
// socket has none (not IPv4, not connected).
bool SocketLocalEnd(int socket, Ipv4Peer* end);
bool SocketPeerEnd(int socket, Ipv4Peer* end);
// The peer shut its sending side down or the connection was reset, as far
// as the kernel knows now; unread data are left where they are.
bool PeerHasClosed(int socket);

// Bytes received (>0), 0 when the peer has closed, -1 on error.
long SockRecv(int socket, void* buffer, size_t length);
// Bytes sent, or -1 on error (kWsaEWouldBlock when the buffer is full).
// A socket that an EventLoop watches is used through its LoopSocket
// instead, so that the loop learns of each call.
long SockSend(int socket, const void* buffer, size_t length);
enum ShutdownHow { kShutReceive = 0, kShutSend = 1, kShutBoth = 2 };
void SockShutdown(int socket, ShutdownHow how);
// Closes the socket.
void SockClose(int socket);
void SetReceiveBufferSize(int socket, int bytes);
void SetSendBufferSize(int socket, int bytes);
void SetBlocking(int socket, bool blocking);
// Sends each write at once instead of holding a small one back until the
// last is acknowledged (line protocols whose replies come in pairs).
void SetNoDelay(int socket);
// The local port a socket is bound to (0 on failure).
uint16_t LocalPort(int socket);
// Waits up to timeoutMs for the socket to become readable; false on time-out.
bool WaitReadable(int socket, int timeoutMs);

// The machine's host name ("" on failure).
std::string LocalHostNameText();
// First IPv4 address that resolving `host` yields, dotted ("" on failure).
std::string FirstAddressOfHost(const std::string& host);

}  // namespace qb
