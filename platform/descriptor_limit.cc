#include "platform/descriptor_limit.h"

#include <sys/resource.h>

namespace qb {

uint64_t RaiseDescriptorLimitToHard() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<uint64_t>(limit.rlim_cur);
}

uint64_t SoftDescriptorLimit() {
  rlimit limit{};
  return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? static_cast<uint64_t>(limit.rlim_cur) : 0;
}

bool SetSoftDescriptorLimit(uint64_t value) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  limit.rlim_cur = static_cast<rlim_t>(value);
  return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

}  // namespace qb
