// Passing another PC's fax-receive announcement to the local fax companion
// program: make sure the companion runs, write the announcing PC's name
// and address into a numbered file of the temporary folder, and tell the
// companion the number with a message to its window.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "interop/window_messages.h"
#include "nameservice/name_datagram.h"
#include "platform/env.h"
#include "platform/stop_signal.h"

namespace qb {

constexpr char kFaxCompanionClass[] = "TVFAXRCVHANDLE2QBX";
constexpr char kFaxCompanionProgram[] = "PF_QBX.exe";
// The companion gets the file number as wParam of this message.
constexpr uint32_t kFaxHandOffMessage = 0x0400 + 3;  // WM_USER+3
// How long a companion we started may take to open its window before the
// hand-off is given up.
constexpr int kFaxCompanionStartLimitMs = 10000;

// The whole hand-off, waiting for the companion as needed; every wait ends
// at once when `stopFd` (-1: none) becomes readable. `companionPid` keeps
// the process started last time (-1: none) from one hand-off to the next.
// Blocks: never call it on the event loop's thread.
void HandOffFaxHandler(Env& env, const char* name, const char* ip, int stopFd, int* companionPid);

// Runs the hand-offs one at a time on a thread of their own, in the order
// they were asked for, so that the loop that receives the announcements
// never waits for another program. The queue is bounded: an announcement
// already waiting is not queued twice, and when the queue is full a new
// one is dropped (traced).
class FaxHandOffQueue {
 public:
  static constexpr size_t kCapacity = 8;

  // The hand-off files are written through `env`.
  explicit FaxHandOffQueue(Env& env) : env_(env) {}
  ~FaxHandOffQueue();  // cuts a running hand-off short and ends the thread
  FaxHandOffQueue(const FaxHandOffQueue&) = delete;
  FaxHandOffQueue& operator=(const FaxHandOffQueue&) = delete;

  // Any thread. The thread starts with the first request.
  void Request(const char* name, const char* ip);

 private:
  struct Announcement {
    char name[kNameFieldBytes + 1];
    char ip[16];
  };

  void Work();

  Env& env_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::array<Announcement, kCapacity> waiting_{};
  size_t first_ = 0;
  size_t count_ = 0;
  bool stopping_ = false;
  StopSignal stop_;
  int companionPid_ = -1;
  std::thread worker_;
};

}  // namespace qb
