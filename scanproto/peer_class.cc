#include "scanproto/access_lock.h"

#include <cstring>

namespace qb {

// Provisional: every peer counts as one the server does not recognise
// until the hardware-address lookup lands.
int ClassifyPeer(const char* ipText) {
  return std::strcmp(ipText, "127.0.0.1") == 0 ? kClassOther : kClassUndetermined;
}

}  // namespace qb
