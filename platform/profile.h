// Initialisation-file ("profile") access with the semantics of the classic
// profile-string functions (the text rules are text/profile_text.h's):
// sections and keys match without regard to case,
// the first match wins, a missing file, section or key gives the default,
// integers are parsed as a signed decimal prefix. Writers keep every other
// line of the file as it was. Each call works under an advisory lock, so
// that other processes writing the same file never see or cause
// half-written content. A read of a file that has not changed since its
// last read (same inode, size and times, and either the last change over
// 2 s before that read or, where the kernel watches the file's folder for
// this process, no change of the file noticed since) takes the content of
// that read; while another process holds the lock to write, a read
// answers with the last content read rather than wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "text/profile_text.h"

namespace qb {

// Value of section/key, or `fallback` when absent. Surrounding blanks and a
// matching pair of surrounding quotes are removed from the value.
std::string ProfileGetString(const std::string& path, const char* section, const char* key,
                             const char* fallback);

// Same, copied into buffer (cut to size - 1 characters, always terminated).
// Returns the number of characters copied.
size_t ProfileGetString(const std::string& path, const char* section, const char* key,
                        const char* fallback, char* buffer, size_t size);

// Signed decimal prefix of the value (blanks before it skipped, a sign
// allowed, parsing stops at the first non-digit; no digits reads as 0);
// `fallback` when the key is absent. Saturates at the int range.
int ProfileGetInt(const std::string& path, const char* section, const char* key, int fallback);

// The key names of a section in file order; empty when the section is
// missing. When the names with their terminators would exceed `maxBytes`,
// the list ends with the names that fit.
std::vector<std::string> ProfileKeyNames(const std::string& path, const char* section,
                                         size_t maxBytes = 65536);

// Every key of a section with its value (as ProfileGetString would return
// it for the first occurrence of that key), in file order, from one read.
std::vector<std::pair<std::string, std::string>> ProfileSection(const std::string& path,
                                                                const char* section);

// Writes section/key = value, replacing the first matching key, appending the
// key at the end of its section or a new section at the end of the file.
// A null value deletes the key. Returns false when the file cannot be
// written (for instance its folder is missing).
bool ProfileWriteString(const std::string& path, const char* section, const char* key,
                        const char* value);

// Several writes to one section in one locked read-modify-write.
bool ProfileWriteMany(const std::string& path, const char* section,
                      const std::vector<ProfileUpdate>& updates);

// The same, for a file that programs read without taking its lock (the
// tray's picture and menu, read by a desktop applet): the new text goes to
// a file beside it that then replaces it, so a reader sees the old text or
// the new, never a mix. Writers take turns on PATH.lock.
bool ProfileReplaceMany(const std::string& path, const char* section,
                        const std::vector<ProfileUpdate>& updates);

// How many times this process has read a profile file from disk rather
// than from its last read (for tests and diagnostics).
uint64_t ProfileFileReads();

// Holds the lock that writers of `path` take, as another program editing
// the file would, until destroyed (held() false when the file cannot be
// opened). Profile reads and writes in this process meanwhile behave as
// they would towards that program.
class ProfileWriterLock {
 public:
  explicit ProfileWriterLock(const std::string& path);
  ~ProfileWriterLock();
  ProfileWriterLock(const ProfileWriterLock&) = delete;
  ProfileWriterLock& operator=(const ProfileWriterLock&) = delete;
  bool held() const { return fd_ >= 0; }
  void Release();

 private:
  int fd_ = -1;
};

}  // namespace qb
