#include "interop/svc_ctrl.h"

#include <cstring>

#include "platform/global_lock.h"
#include "platform/places.h"
#include "platform/shared_record.h"

namespace qb {
namespace {

// Layout of the shared file (little-endian 32-bit words).
enum Word {
  kServerWindow,    // service instance's main window, 0 when its side is closed
  kClientOpen,      // desktop side connected
  kConnectCounter,  // counts client connections
  kJobNum,
  kCommState,
  kIconState,
  kHddState,
  kNewFile,
  kWordCount
};

constexpr size_t kBytes = kWordCount * 4;

int32_t Get(const uint8_t* bytes, Word word) {
  int32_t value;
  std::memcpy(&value, bytes + word * 4, 4);
  return value;
}

void Put(uint8_t* bytes, Word word, int32_t value) { std::memcpy(bytes + word * 4, &value, 4); }

std::string SharedFilePath() { return RunFolder() + "/qnSvcCtrl"; }

template <typename Use>
void Access(Use use) {
  GlobalLockGuard lock;
  UpdateSharedRecord(SharedFilePath(), kBytes, use);
}

// A word of a missing, short or replaced file reads as 0.
int32_t Read(Word word) {
  uint8_t bytes[kBytes];
  if (!ReadSharedRecord(SharedFilePath(), kBytes, bytes)) return 0;
  return Get(bytes, word);
}

void Write(Word word, int32_t value) {
  Access([&](uint8_t* bytes) { Put(bytes, word, value); });
}

}  // namespace

int startPipeSvr(uint32_t window) {
  Write(kServerWindow, static_cast<int32_t>(window));
  return 1;
}

void stopPipeSvr() { Write(kServerWindow, 0); }
uint32_t getPipeSvrWindow() { return static_cast<uint32_t>(Read(kServerWindow)); }

int startPipeClt(uint32_t /*window*/) {
  int open = 0;
  Access([&](uint8_t* bytes) {
    if (Get(bytes, kServerWindow) == 0) return;
    Put(bytes, kClientOpen, 1);
    Put(bytes, kConnectCounter, static_cast<uint16_t>(Get(bytes, kConnectCounter) + 1));
    open = 1;
  });
  return open;
}

void stopPipeClt() { Write(kClientOpen, 0); }
uint16_t getConnectCounter() { return static_cast<uint16_t>(Read(kConnectCounter)); }
void setSvcJobNum(int jobs) { Write(kJobNum, jobs); }
int getSvcJobNum() { return Read(kJobNum); }
void setCommState(int state) { Write(kCommState, state); }
int getCommState() {
  int state = Read(kCommState);
  return state == 0 ? 16 : state;
}
void setIconState(int state) { Write(kIconState, state); }
int getIconState() {
  // A service that never drew its icon has nothing to report but "normal".
  int state = Read(kIconState);
  return state == 0 ? 1 : state;
}
void setHDDState(int state) { Write(kHddState, state); }
void rcvNewFile() { Write(kNewFile, 1); }
int chkRcvNewFile() { return Read(kNewFile) == 1 ? 1 : 0; }
void readFileOK() { Write(kNewFile, 0); }

}  // namespace qb
