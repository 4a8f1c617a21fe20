// The shared data files of the storage steps (destination list, receive
// log) live in the data folder for generations 1 and 2, opened so that a
// missing file is created for this account and its group (0660), and in the Windows
// directory for the other generations, opened as they are.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/env.h"

namespace qb {

constexpr char kDestinationListName[] = "tvscan_f.bin";
constexpr char kReceiveLogName[] = "tvscanlog_f.bin";

// Where the file lives for the running generation.
std::string SharedDataFilePath(const char* fileName);
// The lines of the file (see text_lines.h). A missing file reads as false;
// for generations 1 and 2 it is then created empty, as the other programs
// expect to find it.
bool ReadSharedDataLines(Env& env, const char* fileName, size_t bufferSize,
                         std::vector<std::string>* lines);

}  // namespace qb
