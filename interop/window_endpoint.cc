#include "interop/window_endpoint.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "platform/files.h"
#include "platform/local_trust.h"
#include "platform/places.h"
#include "platform/trace.h"

namespace qb {
namespace {

constexpr size_t kMessageBytes = 20;
std::atomic<uint32_t> g_next_window{1};
std::atomic<uint32_t> g_next_reply{1};

std::string WindowsFolder() {
  std::string folder = RunFolder() + "/windows";
  MakeGroupFolder(folder);
  return folder;
}

void PutLe(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | in[i];
  return value;
}

void Encode(uint8_t* out, uint32_t message, uint64_t wParam, int64_t lParam) {
  PutLe(out, message, 4);
  PutLe(out + 4, wParam, 8);
  PutLe(out + 12, static_cast<uint64_t>(lParam), 8);
}

// One trace line per refused account a minute: a flood of messages from
// an outsider costs no trace file.
void TraceRefusedSender(const DatagramSender& sender) {
  constexpr size_t kSlots = 16;
  constexpr int64_t kQuietMs = 60 * 1000;
  struct Refused {
    int64_t uid = -1;
    int64_t tracedMs = 0;
  };
  static std::mutex mutex;  // endpoints of several loops (tests) share the table
  static Refused refused[kSlots];
  std::lock_guard<std::mutex> lock(mutex);
  const int64_t uid = sender.hasCredentials ? static_cast<int64_t>(sender.uid) : -2;
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  Refused* slot = &refused[0];
  for (Refused& entry : refused) {
    if (entry.uid == uid) {
      slot = &entry;
      break;
    }
    if (entry.tracedMs < slot->tracedMs) slot = &entry;
  }
  if (slot->uid == uid && now - slot->tracedMs < kQuietMs) return;
  *slot = {uid, now};
  if (!sender.hasCredentials) {
    TraceLog(" Window message without sender credentials dropped");
  } else {
    TraceLog(" Window message from uid %d gid %d pid %d dropped: not this account, root or group %u",
             static_cast<int>(sender.uid), static_cast<int>(sender.gid),
             static_cast<int>(sender.pid), ProgramGroup());
  }
}

}  // namespace

std::string EndpointPath(uint32_t handle) { return WindowsFolder() + "/" + std::to_string(handle); }

WindowEndpoint::WindowEndpoint(EventLoop& loop, Window* window) : loop_(loop), window_(window) {
  // Handles are unique on the machine: the process id with a counter.
  handle_ = (static_cast<uint32_t>(CurrentProcessId()) << 8 | (g_next_window++ & 0xFF)) & 0x7FFFFFFF;
  path_ = EndpointPath(handle_);
  // Others can neither reach the folder nor write the socket; the sender
  // of each message is checked as well (OnDatagram), since a member's
  // process may hand its descriptor on.
  socket_ = LocalDatagramSocket::BoundTo(path_, /*senderCredentials=*/true);
  if (socket_.ok()) loop_.WatchReadable(socket_.Descriptor(), [this] { OnDatagram(); });
}

WindowEndpoint::~WindowEndpoint() {
  if (!socket_.ok()) return;
  loop_.StopWatching(socket_.Descriptor());
  socket_ = LocalDatagramSocket();
  RemoveFile(path_);
  if (!classLink_.empty()) RemoveFile(classLink_);
}

bool WindowEndpoint::RegisterClass(const std::string& className) {
  if (!socket_.ok()) return false;
  classLink_ = WindowsFolder() + "/class-" + className;
  return MakeSymbolicLink(std::to_string(handle_), classLink_);
}

void WindowEndpoint::OnDatagram() {
  for (;;) {
    uint8_t datagram[64];
    DatagramSender sender;
    long got = socket_.ReceiveFrom(datagram, sizeof datagram, &sender);
    if (got < 0) return;
    if (!sender.hasCredentials || !IsTrustedAccount(sender.uid, sender.gid)) {
      TraceRefusedSender(sender);
      continue;
    }
    if (got != static_cast<long>(kMessageBytes)) continue;  // not a message: dropped
    uint32_t message = static_cast<uint32_t>(GetLe(datagram, 4));
    uint64_t wParam = GetLe(datagram + 4, 8);
    int64_t lParam = static_cast<int64_t>(GetLe(datagram + 12, 8));
    if (!sender.hasReturnPath) {
      loop_.PostMessage(window_, message, wParam, lParam);
      continue;
    }
    int64_t result = window_->HandleMessage(message, wParam, lParam);
    uint8_t reply[8];
    PutLe(reply, static_cast<uint64_t>(result), 8);
    socket_.Answer(sender, reply, sizeof reply);
  }
}

bool WindowIsLive(uint32_t handle) {
  // Only a bound socket answers a connect: a stale file is no window.
  LocalDatagramSocket probe = LocalDatagramSocket::Unbound();
  return handle != 0 && probe.Connect(EndpointPath(handle));
}

uint32_t FindWindowByClass(const std::string& className) {
  std::string target = ReadSymbolicLink(WindowsFolder() + "/class-" + className);
  if (target.empty() || target.size() > 10) return 0;
  char* end = nullptr;
  unsigned long handle = std::strtoul(target.c_str(), &end, 10);
  if (*end != '\0' || handle == 0 || handle > 0xFFFFFFFFul) return 0;
  return WindowIsLive(static_cast<uint32_t>(handle)) ? static_cast<uint32_t>(handle) : 0;
}

bool PostMessageToWindow(uint32_t handle, uint32_t message, uint64_t wParam, int64_t lParam) {
  uint8_t datagram[kMessageBytes];
  Encode(datagram, message, wParam, lParam);
  return LocalDatagramSocket::Unbound().SendTo(EndpointPath(handle), datagram, sizeof datagram);
}

bool SendMessageToWindow(uint32_t handle, uint32_t message, uint64_t wParam, int64_t lParam,
                         int64_t* result, int timeoutMs) {
  return SendMessageToWindowUnless(handle, message, wParam, lParam, result, timeoutMs, -1);
}

bool SendMessageToWindowUnless(uint32_t handle, uint32_t message, uint64_t wParam, int64_t lParam,
                               int64_t* result, int timeoutMs, int abandonFd) {
  std::string replyPath = WindowsFolder() + "/reply-" + std::to_string(CurrentProcessId()) + "-" +
                          std::to_string(g_next_reply++);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool answered = false;
  {
    // Bound, so that the window can answer; connected, so that a peer
    // whose queue is full (it stopped reading) is waited for with a
    // deadline instead of blocking in send without limit.
    LocalDatagramSocket socket = LocalDatagramSocket::BoundTo(replyPath, false);
    uint8_t datagram[kMessageBytes];
    Encode(datagram, message, wParam, lParam);
    uint8_t reply[8];
    if (socket.ok() && socket.Connect(EndpointPath(handle)) &&
        socket.Send(datagram, sizeof datagram, abandonFd, deadline) &&
        socket.Receive(reply, sizeof reply, abandonFd, deadline)) {
      if (result != nullptr) *result = static_cast<int64_t>(GetLe(reply, 8));
      answered = true;
    }
  }
  RemoveFile(replyPath);
  return answered;
}

}  // namespace qb
