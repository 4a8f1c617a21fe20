// Windows that other processes reach. A window endpoint is a Unix datagram
// socket R/run/quillbox/windows/H, H being the window's handle in decimal.
// A message is one 20-byte datagram: message (u32), wParam (u64), lParam
// (i64), little-endian. A sender that waits for the result (SendMessage)
// sends from a socket bound to a path of its own and gets back 8 bytes
// (i64 result, little-endian); a poster sends from an unbound socket.
// A class name is found through the symbolic link windows/class-NAME.
#pragma once

#include <cstdint>
#include <string>

#include "platform/event_loop.h"
#include "platform/local_datagram.h"

namespace qb {

class WindowEndpoint {
 public:
  // Opens the endpoint of `window`, whose messages then arrive on `loop`
  // (owner thread). Check ok().
  WindowEndpoint(EventLoop& loop, Window* window);
  ~WindowEndpoint();  // removes the socket file and the class links
  WindowEndpoint(const WindowEndpoint&) = delete;
  WindowEndpoint& operator=(const WindowEndpoint&) = delete;

  bool ok() const { return socket_.ok(); }
  uint32_t handle() const { return handle_; }
  // Makes the window findable by FindWindowByClass(className).
  bool RegisterClass(const std::string& className);

 private:
  void OnDatagram();

  EventLoop& loop_;
  Window* window_;
  LocalDatagramSocket socket_;
  uint32_t handle_ = 0;
  std::string path_;
  std::string classLink_;
};

// Path of the endpoint of a handle.
std::string EndpointPath(uint32_t handle);
// Whether a window of that handle is live (its endpoint is bound).
bool WindowIsLive(uint32_t handle);
// The handle of a live window of that class, or 0.
uint32_t FindWindowByClass(const std::string& className);
// Queues a message at another process's window; false when it has no live
// endpoint.
bool PostMessageToWindow(uint32_t handle, uint32_t message, uint64_t wParam, int64_t lParam);
// Delivers a message and waits up to timeoutMs for the result; false when
// the window does not answer in time. The time-out covers the delivery too:
// a window that stopped reading (its queue full) is not waited for longer.
bool SendMessageToWindow(uint32_t handle, uint32_t message, uint64_t wParam, int64_t lParam,
                         int64_t* result, int timeoutMs = 5000);
// The same, but gives up at once when `abandonFd` (a descriptor the caller
// owns; -1 for none) becomes readable, so that another thread can cut the
// wait short.
bool SendMessageToWindowUnless(uint32_t handle, uint32_t message, uint64_t wParam, int64_t lParam,
                               int64_t* result, int timeoutMs, int abandonFd);

}  // namespace qb
