// Splitting a local path into the parts that the naming rules reassemble.
#pragma once

#include <string>
#include <string_view>

namespace qb {

struct PathParts {
  std::string drive;      // always empty on this platform; kept so that
                          // drive + directory + baseName + extension == path
  std::string directory;  // up to and including the last separator
  std::string baseName;   // the name without folder and extension
  std::string extension;  // from the last "." of the name, dot included
};

PathParts SplitPath(std::string_view path);

// drive + directory: the folder with its trailing separator ("" for a bare
// name).
std::string FolderOf(const PathParts& parts);

// Byte position of the last "_" in `text` that is a character of its own
// (never the second byte of a code page 932 character), or npos.
size_t FindLastUnderscore(std::string_view text);

}  // namespace qb
