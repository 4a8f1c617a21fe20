// The host table: names of the printers that announced themselves.
#pragma once

#include <cstddef>

namespace qb {

// Copies the name known for the dotted IPv4 address into buffer (cut to
// size - 1); false and an empty buffer when the address has no name.
bool LookupHostName(const char* dottedAddress, char* buffer, size_t size);

}  // namespace qb
