#include "storage/text_lines.h"

#include <cstring>

namespace qb {

std::vector<std::string> SplitTextLines(const std::string& text, size_t bufferSize) {
  std::vector<std::string> lines;
  const size_t most = bufferSize > 1 ? bufferSize - 1 : 1;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    if (end - start > most) end = start + most;
    std::string piece = text.substr(start, end - start);
    piece.resize(std::strlen(piece.c_str()));
    lines.push_back(std::move(piece));
    start = end;
  }
  return lines;
}

bool ReadTextLines(Env& env, const std::string& path, size_t bufferSize,
                   std::vector<std::string>* lines) {
  std::string text;
  if (!ReadWholeFile(env, path, &text)) return false;
  *lines = SplitTextLines(text, bufferSize);
  return true;
}

}  // namespace qb
