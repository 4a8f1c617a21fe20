#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

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

// Reads the whole file under a shared lock; nullopt if it cannot be opened.
std::optional<std::string> ReadLocked(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  ::flock(fd, LOCK_SH);
  std::string content = ReadAll(fd);
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
  return ok;
}

bool ProfileReplaceMany(const std::string& path, const char* section,
                        const std::vector<ProfileUpdate>& updates) {
  const FileChange change = [&](const std::optional<std::string>& current, std::string* updated) {
    *updated = ProfileApplyWrites(current.value_or(std::string()), section, updates);
    return !current || *updated != *current;
  };
  return ReplaceFileLocked(path, change, false) != ReplaceResult::kFailed;
}

}  // namespace qb
