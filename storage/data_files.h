// The shared data files of the storage steps (destination list, receive
// log) live in the data folder for generations 1 and 2, opened so that a
// missing file is created for this account and its group (0660), and in the Windows
// directory for the other generations, opened as they are.
#pragma once

#include <cstdio>
#include <string>

namespace qb {

constexpr char kDestinationListName[] = "tvscan_f.bin";
constexpr char kReceiveLogName[] = "tvscanlog_f.bin";

// Where the file lives for the running generation.
std::string SharedDataFilePath(const char* fileName);
// Null when the file cannot be opened in `mode`.
std::FILE* OpenSharedDataFile(const char* fileName, const char* mode);

}  // namespace qb
