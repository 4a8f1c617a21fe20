// Small files that hold a secret for the program's group: readable by the
// owner and the group (0640), by nobody else, never through a link.
#pragma once

#include <string>

namespace qb {

// Reads the secret at `path` (at most 4 KiB, a regular file, not a link);
// false when there is none or it cannot be read.
bool ReadSecretFile(const std::string& path, std::string* text);
// Writes `text` as the secret at `path`: a new file of mode 0640 in the
// same folder, synced, then renamed over the old one. False on failure,
// with nothing half-written left under `path`.
bool WriteSecretFile(const std::string& path, const std::string& text);

}  // namespace qb
