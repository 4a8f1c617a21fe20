// Lines of the shared text files as the other programs reading them see
// them: fgets into a fixed buffer, so a long line comes in pieces of at
// most bufferSize - 1 bytes, each piece counting as a line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/env.h"

namespace qb {

// The pieces of `text`, each with its line feed when it has one. A NUL
// byte ends a piece's text (it is read as a C string), not the piece.
std::vector<std::string> SplitTextLines(const std::string& text, size_t bufferSize);

// The whole file through `env`; false when it cannot be read.
bool ReadTextLines(Env& env, const std::string& path, size_t bufferSize,
                   std::vector<std::string>* lines);

}  // namespace qb
