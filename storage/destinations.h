// The destination list: numbered destinations, each a folder with an
// optional access code and extension library. The list is a text file kept
// by the configuration program ("tvscan_f.bin", one destination per line,
// fields separated by ";": number, folder, a field skipped here, access
// code, extension library). It is read afresh at every lookup, so changes
// apply to the next job.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"

namespace qb {

struct DestinationRecord {
  std::string numberText;        // field 1 as written
  std::string folder;            // field 2, without a trailing separator
  std::string accessCode;        // field 4, up to eight digits, "" for none
  std::string extensionLibrary;  // field 5, "" for none
};

// Splits the first field off `rest`: the text before the first ";", the
// rest becoming the text after it; without a ";" the whole rest less its
// line break, the rest becoming empty.
std::string SplitField(std::string* rest);

// Finds `number` in the destination list: the first line whose field 1,
// read by the atoi rule, equals it (a field without digits reads as 0).
// True when it is listed, a new file can be created in its folder (probed
// by creating and deleting a file there) and the folder can be entered.
// `record` is filled whenever the number is listed, even when the folder
// fails. Holds GlobalLock throughout. A missing list gives false (for
// generations 1 and 2 the lookup creates it empty).
bool LookupDestination(uint16_t number, DestinationRecord* record, Env& env);

// True when `folder` is a directory the process could make its current
// directory. The current directory itself is never changed.
bool IsFolderReachable(const std::string& folder);

// The visible sub-folders of `folder` for remote browsing: ".." first, then
// the other folder names in ascending byte order. Names starting with "."
// count as hidden and are left out. Empty when the folder cannot be entered
// or read.
std::vector<std::string> ListSubfolders(const std::string& folder, Env& env);

// The folders of every line of the destination list (empty ones left out).
std::vector<std::string> DestinationFolders(Env& env);

// Whether `path` is one of the destination folders or lies below one, after
// resolving "..", "." and symbolic links.
bool IsWithinDestinations(const std::string& path, Env& env);

// Whether `path` is `folder` or lies below it once "..", "." and symbolic
// links of both are resolved (the part of `path` that does not exist yet
// is taken as written). A folder that cannot be resolved contains nothing.
bool IsWithinFolder(const std::string& path, const std::string& folder);

}  // namespace qb
