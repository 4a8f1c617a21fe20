#include "platform/file_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qb {

FileWatch::FileWatch(const std::string& folder, const std::string& name) : name_(name) {
  fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd_ < 0) return;
  const uint32_t events = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_DELETE;
  if (::inotify_add_watch(fd_, folder.c_str(), events) < 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

FileWatch::~FileWatch() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileWatch::WaitForChange(int timeoutMs) {
  if (fd_ < 0) return false;
  for (;;) {
    pollfd waiting{fd_, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    // Every event waiting is read; one about our entry is enough.
    alignas(inotify_event) char buffer[8192];
    bool ours = false;
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && name_ == event->name) ours = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    if (ours) return true;
  }
}

}  // namespace qb
