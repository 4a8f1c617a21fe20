#include "platform/global_lock.h"

namespace qb {

std::recursive_mutex& GlobalLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace qb
