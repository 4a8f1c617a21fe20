#include "storage/path_parts.h"

#include "platform/codepage.h"
#include "platform/places.h"

namespace qb {

PathParts SplitPath(std::string_view path) {
  PathParts parts;
  // "/" and "." are never the second byte of a double-byte character, so a
  // byte search is safe under every code page.
  size_t slash = path.rfind(kPathSeparator);
  size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  parts.directory = std::string(path.substr(0, nameStart));
  std::string_view name = path.substr(nameStart);
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) {
    parts.baseName = std::string(name);
  } else {
    parts.baseName = std::string(name.substr(0, dot));
    parts.extension = std::string(name.substr(dot));
  }
  return parts;
}

std::string FolderOf(const PathParts& parts) { return parts.drive + parts.directory; }

size_t FindLastUnderscore(std::string_view text) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsDoubleByteLead(static_cast<unsigned char>(text[i]))) {
      ++i;
    } else if (text[i] == '_') {
      found = i;
    }
  }
  return found;
}

}  // namespace qb
