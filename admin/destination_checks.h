// The checks a destination's fields pass before they go into the list:
// each refuses what the receiver would later trip on when a printer sends,
// and says why and, where it can, how to put it right.
#pragma once

#include <string>

#include "admin/outcome.h"
#include "admin/service_account.h"

namespace qb {

// Printers send the destination as a 16-bit number; 0 is no destination.
constexpr int kLowestDestination = 1;
constexpr int kHighestDestination = 65535;
// The receiver keeps a document's folder in a buffer of 260 bytes and
// refuses a destination whose folder does not fit it.
constexpr size_t kFolderBytesMax = 259;
constexpr size_t kAccessCodeDigitsMax = 8;

// `text` is a destination number: decimal digits only, in range.
Outcome CheckDestinationNumber(const std::string& text, int* number);
// How the folder is written: absolute, no trailing separator, nothing the
// list's format cannot hold, short enough.
Outcome CheckFolderText(const std::string& folder);
// The folder exists and `account` can create files in it.
Outcome CheckFolderUsable(const std::string& folder, const ServiceAccount& account);
Outcome CheckAccessCode(const std::string& code);
Outcome CheckDescription(const std::string& description);
// Absolute, loads, exports the entry point the receiver calls, and is a
// file the service would load in `account`'s name (owned by root or the
// account, it and its folder not writable by others).
Outcome CheckExtensionLibrary(const std::string& path, const ServiceAccount& account);

}  // namespace qb
