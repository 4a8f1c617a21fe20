// Whether this account may change a data file: said before a change is
// made, with what to do, rather than as a bare "permission denied" after.
#pragma once

#include <string>

#include "admin/outcome.h"

namespace qb {

// The file's folder must let this account create the replacement and the
// lock file, and an existing file must be writable (the profile writer
// writes it in place).
Outcome CheckMayWrite(const std::string& path);

}  // namespace qb
