// Changes to the destination list. Each one is checked first, then made in
// one turn of the list's writers' lock (platform/replace_file.h) with the
// program-wide GlobalLock held, the lock the receiver holds while it reads
// the list: the new list replaces the old whole, so a printer's lookup sees
// one or the other.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "admin/destination_entry.h"
#include "admin/outcome.h"
#include "admin/service_account.h"
#include "platform/env.h"

namespace qb {

struct DestinationChange {
  enum class Kind { kAdd, kSet, kRemove };
  Kind kind = Kind::kAdd;
  std::string numberText;
  // Fields to give; a field left out keeps its value (kSet) or stays empty.
  std::optional<std::string> folder;
  std::optional<std::string> description;
  std::optional<std::string> accessCode;
  std::optional<std::string> extensionLibrary;
};

// The list's path for the running generation (the receiver's own).
std::string DestinationListPath();

// The entries of the list now; false when it exists but cannot be read
// (a missing list is empty).
bool ReadDestinations(Env& env, std::vector<DestinationEntry>* entries, std::string* why);

// Every check of the fields `change` gives, before the list is touched.
Outcome CheckDestinationChange(const DestinationChange& change, const ServiceAccount& account);

// The list's new text after `change`, from its current text, or the
// refusal (number taken or not listed). Lines other than the changed one
// stay byte for byte.
Outcome EditDestinationText(const std::string& current, const DestinationChange& change,
                            std::string* updated);

// Checks, then changes the file.
Outcome ApplyDestinationChange(const DestinationChange& change, const ServiceAccount& account);

}  // namespace qb
