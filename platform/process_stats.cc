#include "platform/process_stats.h"

#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace qb {
namespace {

int CountEntries(const char* folder) {
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count;
}

}  // namespace

bool RunningAsRoot() { return ::geteuid() == 0; }

int CountThreads() { return CountEntries("/proc/self/task"); }

// The directory listing itself holds one descriptor while it is read.
int CountOpenDescriptors() { return CountEntries("/proc/self/fd") - 1; }

int64_t ResidentBytes() {
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (file == nullptr) return -1;
  long size = 0, resident = 0;
  const int read = std::fscanf(file, "%ld %ld", &size, &resident);
  std::fclose(file);
  if (read != 2) return -1;
  return static_cast<int64_t>(resident) * ::sysconf(_SC_PAGESIZE);
}

int64_t ProcessCpuMicros() {
  timespec used;
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
  return static_cast<int64_t>(used.tv_sec) * 1000000 + used.tv_nsec / 1000;
}

int64_t VoluntaryContextSwitches() {
  rusage usage;
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_nvcsw;
}

int64_t RaiseDescriptorLimit() {
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  // The administrator may raise the ceiling itself; anyone else goes up to it.
  rlimit wanted{1 << 20, 1 << 20};
  if (wanted.rlim_max > limit.rlim_max && ::setrlimit(RLIMIT_NOFILE, &wanted) == 0) {
    return static_cast<int64_t>(wanted.rlim_cur);
  }
  wanted = rlimit{262144, 262144};
  if (wanted.rlim_max > limit.rlim_max && ::setrlimit(RLIMIT_NOFILE, &wanted) == 0) {
    return static_cast<int64_t>(wanted.rlim_cur);
  }
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  ::getrlimit(RLIMIT_NOFILE, &limit);
  return static_cast<int64_t>(limit.rlim_cur);
}

}  // namespace qb
