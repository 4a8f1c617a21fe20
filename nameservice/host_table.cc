#include "nameservice/host_table.h"

namespace qb {

// No name-resolve responder yet: no address has a name.
bool LookupHostName(const char* /*dottedAddress*/, char* buffer, size_t size) {
  if (size > 0) buffer[0] = '\0';
  return false;
}

}  // namespace qb
