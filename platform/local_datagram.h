// Unix datagram sockets named by paths in the file system: the transport
// that the window endpoints (interop/window_endpoint.h) speak over. Only
// the socket calls live here; what a datagram means is the caller's.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qb {

// Who sent a datagram, as the kernel tells it, and where an answer goes.
struct DatagramSender {
  bool hasCredentials = false;  // the kernel attached them (and nothing was cut)
  uint32_t uid = 0;
  uint32_t gid = 0;
  int32_t pid = 0;
  bool hasReturnPath = false;  // sent from a socket bound to a path: it waits for an answer
  alignas(8) unsigned char address[112] = {};
  uint32_t addressLength = 0;
};

class LocalDatagramSocket {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  LocalDatagramSocket() = default;  // no socket
  ~LocalDatagramSocket();
  LocalDatagramSocket(LocalDatagramSocket&& other) noexcept;
  LocalDatagramSocket& operator=(LocalDatagramSocket&& other) noexcept;
  LocalDatagramSocket(const LocalDatagramSocket&) = delete;
  LocalDatagramSocket& operator=(const LocalDatagramSocket&) = delete;

  // A socket that only sends.
  static LocalDatagramSocket Unbound();
  // A socket bound to `path`, replacing an old entry there, readable and
  // writable by the account and its group only. With `senderCredentials`
  // every datagram received carries its sender's credentials. Check ok().
  static LocalDatagramSocket BoundTo(const std::string& path, bool senderCredentials);

  bool ok() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }

  // Sends one datagram to the socket bound at `path` without waiting.
  bool SendTo(const std::string& path, const void* data, size_t length);

  // Fixes the peer for Send and Receive. Also tells whether a socket is
  // bound at `path` at all: a stale file refuses the connection.
  bool Connect(const std::string& path);
  // One datagram to the connected peer; while its queue is full, waits
  // until `deadline` unless `abandonFd` (-1: none) becomes readable first.
  bool Send(const void* data, size_t length, int abandonFd, Deadline deadline);
  // Waits the same way for a datagram of exactly `length` bytes.
  bool Receive(void* data, size_t length, int abandonFd, Deadline deadline);

  // The next waiting datagram, without waiting: its length (cut to
  // `capacity`), or -1 when none is waiting.
  long ReceiveFrom(void* data, size_t capacity, DatagramSender* sender);
  // Answers a datagram whose sender has a return path; never waits.
  void Answer(const DatagramSender& sender, const void* data, size_t length);

 private:
  explicit LocalDatagramSocket(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Symbolic links name things in the run folder (a class name -> a handle).
bool MakeSymbolicLink(const std::string& target, const std::string& path);
// The link's target; "" when `path` is no link or cannot be read.
std::string ReadSymbolicLink(const std::string& path);

}  // namespace qb
