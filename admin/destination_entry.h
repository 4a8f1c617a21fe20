// One line of the destination list as an administrator sees it, read by
// the receiver's own field rules (storage/destinations.h) and written back
// in its format: number;folder;description;access code;extension library.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qb {

struct DestinationEntry {
  int number = 0;  // field 1 by the receiver's reading (no digits: 0)
  std::string folder;
  std::string description;
  std::string accessCode;
  std::string extensionLibrary;
};

// The entry a line holds; nullopt for a line without any text.
std::optional<DestinationEntry> ParseDestinationLine(const std::string& line);
// The line for an entry, without its line end.
std::string FormatDestinationLine(const DestinationEntry& entry);
// Every entry of the list's text, in file order (empty lines left out).
std::vector<DestinationEntry> ParseDestinationList(const std::string& text);

}  // namespace qb
