#include "platform/fault_env.h"

#include "platform/net.h"

namespace qb {

bool FaultEnv::QueryDiskSpace(const std::string& path, DiskSpace* space) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_bytes_) {
      space->freeToCaller = *free_bytes_;
      space->total = uint64_t{1} << 40;
      return true;
    }
  }
  return Env::QueryDiskSpace(path, space);
}

void FaultEnv::SetFreeBytes(std::optional<uint64_t> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  free_bytes_ = bytes;
}

void FaultEnv::FailSend(int socket, int nth) {
  std::lock_guard<std::mutex> lock(mutex_);
  failing_socket_ = socket;
  sends_until_failure_ = nth;
}

long FaultEnv::Send(int socket, const void* data, size_t length) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sends_until_failure_ > 0 && socket == failing_socket_ && --sends_until_failure_ == 0) {
      SetLastSocketError(kWsaEConnReset);
      return -1;
    }
  }
  const size_t limit = send_limit_.load();
  if (limit != 0 && length > limit) length = limit;
  return Env::Send(socket, data, length);
}

bool FaultEnv::TakeWriteFailure() {
  int left = writes_until_failure_.load();
  while (left > 0 && !writes_until_failure_.compare_exchange_weak(left, left - 1)) {
  }
  return left == 1;
}

TlsResult FaultEnv::TlsWrite(TlsSession& session, const void* data, int length) {
  int left = tls_writes_until_failure_.load();
  while (left > 0 && !tls_writes_until_failure_.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 1) {
    SetLastSocketError(kWsaEConnReset);
    return {0, TlsStatus::kSyscall, 5};
  }
  return Env::TlsWrite(session, data, length);
}

}  // namespace qb
