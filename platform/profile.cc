#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/files.h"
#include "platform/local_trust.h"
#include "platform/replace_file.h"

namespace qb {
namespace {

std::string ReadAll(int fd) {
  std::string content;
  char chunk[8192];
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    content.append(chunk, static_cast<size_t>(got));
  }
  return content;
}

// What a file held when it was last read, and how the file looked then.
// The receiver reads its settings for every page; while the file stays as
// it was, one stat replaces the open, lock, reads and close, and a writer
// holding the lock never keeps the caller waiting.
struct CachedRead {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
  bool trusted = false;  // settled when read (see Remember)
  int watch = -1;        // the watch on its folder that vouches for it, or -1
  std::string name;      // its entry in that folder
  std::string content;
};

// A few files at most are read this way (settings, lists); more paths than
// this empty the cache rather than let it grow.
constexpr size_t kMostCachedFiles = 16;

// A change within a file system's timestamp step of the read would leave
// the times as they were; a file whose last change is older than this
// (2 s: the coarsest common step) can no longer be changed unseen.
constexpr int64_t kSettledNanos = 2'000'000'000;

std::mutex g_cacheMutex;
std::unordered_map<std::string, CachedRead> g_cache;
std::atomic<uint64_t> g_fileReads{0};

// The kernel's notifications of changes in the folders of the files read.
// A file read less than 2 s after its last change could change again
// unseen by its times, but not unseen by a watch on its folder: such a
// read stands until a notification about its entry comes. The receiver
// rewrites its settings on every printer connection and reads them on
// every page, so without this each page would read them afresh. Used
// under g_cacheMutex only.
class FolderWatches {
 public:
  FolderWatches() : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {}
  FolderWatches(const FolderWatches&) = delete;
  FolderWatches& operator=(const FolderWatches&) = delete;

  // Watches the folder `path` lies in; the watch, or -1 where the kernel
  // cannot watch it (no notifications, a limit reached).
  int Watch(const std::string& path) {
    if (fd_ < 0) return -1;
    constexpr uint32_t kChanges = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                                  IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
    return ::inotify_add_watch(fd_, FolderOf(path).c_str(), kChanges);
  }

  // Reads every notification waiting and withdraws the word of the
  // watches over the entries they name; all of it where some may have
  // been missed (the queue overflowed, a folder went or moved).
  void Drain(std::unordered_map<std::string, CachedRead>& cache) {
    if (fd_ < 0) return;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      for (size_t at = 0; at + sizeof(inotify_event) <= static_cast<size_t>(got);) {
        inotify_event event;
        std::memcpy(&event, buffer + at, sizeof event);
        const char* name = buffer + at + sizeof event;
        at += sizeof event + event.len;
        if (at > static_cast<size_t>(got)) break;
        const bool aboutEntry = event.len > 0 && (event.mask & IN_Q_OVERFLOW) == 0;
        for (auto& [path, read] : cache) {
          if (!aboutEntry || (read.watch == event.wd && read.name == name)) read.watch = -1;
        }
        ++seen_;
      }
    }
  }

  // How many notifications were taken in so far.
  uint64_t seen() const { return seen_; }

 private:
  const int fd_;
  uint64_t seen_ = 0;
};

// Never destroyed: a read during the program's exit must not find its
// descriptor closed, or its number taken by another file.
FolderWatches& Watches() {
  static FolderWatches* const watches = new FolderWatches;
  return *watches;
}

int64_t Nanos(const timespec& t) { return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameFile(const CachedRead& cached, const struct stat& info) {
  return cached.device == info.st_dev && cached.inode == info.st_ino &&
         cached.size == info.st_size && SameTime(cached.modified, info.st_mtim) &&
         SameTime(cached.changed, info.st_ctim);
}

// The cached content of `path` while `info` shows the file as it was read,
// and the cached read was of a settled file.
std::optional<std::string> CachedContent(const std::string& path, const struct stat& info) {
  std::lock_guard<std::mutex> hold(g_cacheMutex);
  auto found = g_cache.find(path);
  if (found == g_cache.end() || !SameFile(found->second, info)) return std::nullopt;
  if (!found->second.trusted) {
    // Not settled: good only while the watch on its folder has seen no
    // change of it since, up to now (after the stat above).
    if (found->second.watch < 0) return std::nullopt;
    Watches().Drain(g_cache);
    if (found->second.watch < 0) return std::nullopt;
  }
  return found->second.content;
}

// Before a read from the file: its folder watched, and the notifications
// so far taken in, so that only changes after this can withdraw what the
// read finds. Returns the watch (-1: none) and, in `*seenBefore`, the
// count of notifications taken in by then.
int WatchBeforeRead(const std::string& path, uint64_t* seenBefore) {
  // The watch is on the folder of the name: a file reached through a
  // symbolic link lives in another folder, whose changes it never sees.
  struct stat link;
  const bool linked = ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  std::lock_guard<std::mutex> hold(g_cacheMutex);
  const int watch = linked ? -1 : Watches().Watch(path);
  Watches().Drain(g_cache);
  *seenBefore = Watches().seen();
  return watch;
}

// Whatever was last read of `path`, current or not.
std::optional<std::string> LastContent(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_cacheMutex);
  auto found = g_cache.find(path);
  if (found == g_cache.end()) return std::nullopt;
  return found->second.content;
}

void Remember(const std::string& path, const struct stat& info, const std::string& content,
              int watch, uint64_t seenBefore) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const int64_t lastChange = std::max(Nanos(info.st_mtim), Nanos(info.st_ctim));
  CachedRead read;
  read.device = info.st_dev;
  read.inode = info.st_ino;
  read.size = info.st_size;
  read.modified = info.st_mtim;
  read.changed = info.st_ctim;
  // A clock set back makes the change look recent: not trusted, read again.
  read.trusted = Nanos(now) - lastChange > kSettledNanos;
  read.content = content;
  std::lock_guard<std::mutex> hold(g_cacheMutex);
  // The watch vouches for the read only when no notification at all came
  // in since the one before the read: one about this entry may have been
  // taken in by another caller's drain meanwhile. (One about another entry
  // costs one more read at worst.) Nor for a file with other names, which
  // may lie in other folders.
  Watches().Drain(g_cache);
  if (watch >= 0 && info.st_nlink == 1 && Watches().seen() == seenBefore) {
    read.watch = watch;
    read.name = path.substr(path.rfind('/') + 1);
  }
  if (g_cache.size() >= kMostCachedFiles && g_cache.count(path) == 0) g_cache.clear();
  g_cache[path] = std::move(read);
}

void Forget(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_cacheMutex);
  g_cache.erase(path);
}

// Reads the whole file under a shared lock; nullopt if it cannot be opened.
// A file unchanged since its last read comes from the cache. While a writer
// holds the lock, the last content read is the answer, as it would have
// been a moment earlier; only a first read waits for the writer.
std::optional<std::string> ReadLocked(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) {
    std::optional<std::string> cached = CachedContent(path, info);
    if (cached) return cached;
  }
  uint64_t seenBefore = 0;
  const int watch = WatchBeforeRead(path, &seenBefore);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Forget(path);
    return std::nullopt;
  }
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    std::optional<std::string> last = LastContent(path);
    if (last) {
      ::close(fd);
      return last;
    }
    ::flock(fd, LOCK_SH);
  }
  std::string content = ReadAll(fd);
  g_fileReads.fetch_add(1, std::memory_order_relaxed);
  // The file as it was read: writers change it only under the lock held here.
  if (::fstat(fd, &info) == 0) Remember(path, info, content, watch, seenBefore);
  ::close(fd);  // lets the lock go: the descriptor is the only one on it
  return content;
}

}  // namespace

std::string ProfileGetString(const std::string& path, const char* section, const char* key,
                             const char* fallback) {
  std::optional<std::string> content = ReadLocked(path);
  std::optional<std::string> value =
      content ? ProfileLookUp(*content, section, key) : std::nullopt;
  return value ? *value : std::string(fallback == nullptr ? "" : fallback);
}

size_t ProfileGetString(const std::string& path, const char* section, const char* key,
                        const char* fallback, char* buffer, size_t size) {
  if (size == 0) return 0;
  std::string value = ProfileGetString(path, section, key, fallback);
  size_t length = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(buffer, value.data(), length);
  buffer[length] = '\0';
  return length;
}

int ProfileGetInt(const std::string& path, const char* section, const char* key, int fallback) {
  std::optional<std::string> content = ReadLocked(path);
  std::optional<std::string> value =
      content ? ProfileLookUp(*content, section, key) : std::nullopt;
  return value ? ParseLeadingInt(value->c_str()) : fallback;
}

std::vector<std::pair<std::string, std::string>> ProfileSection(const std::string& path,
                                                                const char* section) {
  std::optional<std::string> content = ReadLocked(path);
  if (!content) return {};
  return ProfileSectionEntries(*content, section);
}

std::vector<std::string> ProfileKeyNames(const std::string& path, const char* section,
                                         size_t maxBytes) {
  std::optional<std::string> content = ReadLocked(path);
  if (!content) return {};
  return ProfileSectionKeyNames(*content, section, maxBytes);
}

uint64_t ProfileFileReads() { return g_fileReads.load(std::memory_order_relaxed); }

bool ProfileWriteString(const std::string& path, const char* section, const char* key,
                        const char* value) {
  std::vector<ProfileUpdate> updates{
      {key, value == nullptr ? std::nullopt : std::optional<std::string>(value)}};
  return ProfileWriteMany(path, section, updates);
}

bool ProfileWriteMany(const std::string& path, const char* section,
                      const std::vector<ProfileUpdate>& updates) {
  bool creates = false;
  for (const ProfileUpdate& update : updates) creates |= update.value.has_value();
  int flags = O_RDWR | O_CLOEXEC | (creates ? O_CREAT : 0);
  int fd = ::open(path.c_str(), flags, kGroupFileMode);
  if (fd < 0) return !creates && errno == ENOENT;
  ::flock(fd, LOCK_EX);
  struct stat info;
  if (::fstat(fd, &info) == 0 && info.st_size == 0) ::fchmod(fd, kGroupFileMode);

  std::string content = ReadAll(fd);
  std::string updated = ProfileApplyWrites(content, section, updates);

  bool ok = true;
  if (updated != content) {
    // Written over the old text, then cut to length: readers wait on the
    // lock, so they never see the mix. Never truncating to zero first also
    // spares the file system's flush of a file rewritten from empty (ext4
    // starts writeback on close then), which a rewrite on every printer
    // connection would pay each time.
    size_t written = 0;
    while (ok && written < updated.size()) {
      ssize_t put = ::pwrite(fd, updated.data() + written, updated.size() - written,
                             static_cast<off_t>(written));
      if (put <= 0)
        ok = false;
      else
        written += static_cast<size_t>(put);
    }
    if (ok && updated.size() < content.size()) {
      ok = ::ftruncate(fd, static_cast<off_t>(updated.size())) == 0;
    }
  }
  ::close(fd);  // lets the lock go
  Forget(path);
  return ok;
}

bool ProfileReplaceMany(const std::string& path, const char* section,
                        const std::vector<ProfileUpdate>& updates) {
  const FileChange change = [&](const std::optional<std::string>& current, std::string* updated) {
    *updated = ProfileApplyWrites(current.value_or(std::string()), section, updates);
    return !current || *updated != *current;
  };
  const bool ok = ReplaceFileLocked(path, change, false) != ReplaceResult::kFailed;
  Forget(path);
  return ok;
}

ProfileWriterLock::ProfileWriterLock(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) Release();
}

ProfileWriterLock::~ProfileWriterLock() { Release(); }

void ProfileWriterLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // lets the lock go
  fd_ = -1;
}

}  // namespace qb
