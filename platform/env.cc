#include "platform/env.h"

#include <time.h>

#include "platform/net.h"

namespace qb {

Env& Env::Default() {
  static Env env;
  return env;
}

int64_t Env::NowMs() const {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int64_t Env::WallSeconds() const {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec);
}

bool Env::QueryDiskSpace(const std::string& path, DiskSpace* space) const {
  return qb::QueryDiskSpace(path, space);
}

long Env::Send(int socket, const void* data, size_t length) {
  return SockSend(socket, data, length);
}

TlsResult Env::TlsWrite(TlsSession& session, const void* data, int length) {
  return session.Write(data, length);
}

}  // namespace qb
