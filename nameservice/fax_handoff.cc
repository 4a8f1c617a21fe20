#include "nameservice/fax_handoff.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "config/folders.h"
#include "config/settings.h"
#include "interop/window_endpoint.h"
#include "nameservice/host_list.h"
#include "nameservice/host_table.h"
#include "platform/clock.h"
#include "platform/launch.h"
#include "platform/local_trust.h"
#include "platform/trace.h"
#include "platform/worker_thread.h"

namespace qb {
namespace {

constexpr int kFirstLookMs = 100;
constexpr int kNextLookMs = 200;
constexpr int kReplyLimitMs = 5000;

int64_t MonotonicMs() { return MonotonicNs() / 1000000; }

// Sleeps `ms`; false when `stopFd` cut the wait short.
bool Pause(int ms, int stopFd) { return WaitSocket(-1, false, stopFd, ms) != WaitResult::kStopped; }

// The companion's path; `namedBy` is the settings file when CONF named the
// folder, empty for the program's own folder.
std::string CompanionPath(std::string* namedBy) {
  char folder[260];
  namedBy->clear();
  if (GetConf(folder, sizeof folder)) {
    *namedBy = SettingsPath();
  } else {
    GetProgramFolder(folder, sizeof folder);
  }
  TraceLog(" inst Path=%s", folder);
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + kFaxCompanionProgram;
}

// Starts the companion and waits, bounded, for its window: 0 when it did
// not come up (or the wait was stopped).
uint32_t StartCompanion(int stopFd, int* companionPid) {
  // The launcher collects the exit of the one started before, whenever it
  // comes; only the number of the latest is kept.
  *companionPid = -1;
  std::string namedBy;
  const std::string program = CompanionPath(&namedBy);
  if (!MayRunProgram(program, namedBy)) return 0;
  const int pid = LaunchProgram({program});
  if (pid < 0) return 0;
  *companionPid = pid;
  const int64_t deadline = MonotonicMs() + kFaxCompanionStartLimitMs;
  for (;;) {
    if (!Pause(kFirstLookMs, stopFd)) return 0;
    if (uint32_t window = FindWindowByClass(kFaxCompanionClass)) return window;
    if (MonotonicMs() >= deadline) {
      TraceLog(" fax companion window did not appear within %d ms", kFaxCompanionStartLimitMs);
      return 0;
    }
    if (!Pause(kNextLookMs, stopFd)) return 0;
  }
}

// The hand-off file, CRLF line ends as the companion reads it; false when
// it could not be written whole. TMP may be a folder every account writes
// (/var/tmp for the service): the name is made anew, never opened through
// something another account left there under it.
bool WriteHandOffFile(Env& env, const std::string& path, const char* name, const char* ip) {
  env.Remove(path);
  std::unique_ptr<WritableFile> file;
  if (!env.NewWritableFile(path, CreateMode::kNewOnly, &file)) return false;
  const std::string text = std::string(name) + "\r\n" + ip + "\r\n";
  FileResult written = file->Append(text.data(), text.size());
  FileResult closed = file->Close();
  return written && closed;
}

}  // namespace

void HandOffFaxHandler(Env& env, const char* name, const char* ip, int stopFd, int* companionPid) {
  uint32_t window = FindWindowByClass(kFaxCompanionClass);
  if (window == 0) window = StartCompanion(stopFd, companionPid);
  if (window == 0) return;
  const uint32_t number = NextNotifyId();
  const std::string path = TempFolderPath() + "scni" + std::to_string(number) + ".tmp";
  if (!WriteHandOffFile(env, path, name, ip)) return;
  int64_t ignored = 0;
  SendMessageToWindowUnless(window, kFaxHandOffMessage, number, 0, &ignored, kReplyLimitMs, stopFd);
}

FaxHandOffQueue::~FaxHandOffQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.Raise();
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void FaxHandOffQueue::Request(const char* name, const char* ip) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return;
  for (size_t i = 0; i < count_; ++i) {
    const Announcement& waiting = waiting_[(first_ + i) % kCapacity];
    if (std::strcmp(waiting.name, name) == 0 && std::strcmp(waiting.ip, ip) == 0) return;
  }
  if (count_ == kCapacity) {
    TraceLog(" fax hand-off queue full: announcement of %s dropped", ip);
    return;
  }
  Announcement& slot = waiting_[(first_ + count_) % kCapacity];
  CopyField(slot.name, name);
  CopyField(slot.ip, ip);
  ++count_;
  if (!worker_.joinable()) worker_ = StartWorkerThread([this] { Work(); });
  wake_.notify_one();
}

void FaxHandOffQueue::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return count_ > 0 || stopping_; });
    if (stopping_) return;
    const Announcement next = waiting_[first_];
    first_ = (first_ + 1) % kCapacity;
    --count_;
    lock.unlock();
    HandOffFaxHandler(env_, next.name, next.ip, stop_.Descriptor(), &companionPid_);
    lock.lock();
  }
}

}  // namespace qb
