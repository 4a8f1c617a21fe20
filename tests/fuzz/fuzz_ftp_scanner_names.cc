// What a printer's FTP session hands the scanner session as text: CWD and
// STOR arguments, "@DBA@" names and "@DBA@....meta" files with the
// sub-folder they name. Whatever the bytes, a stored file's path stays
// inside its destination folder, every number names a real destination,
// a stored name names a file (never "", "." or "..") and neither it nor a
// sub-folder holds a control character or ";".
// Input: one byte choosing the current destination, a NUL-terminated name,
// then the meta file's content.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ftp/scanner_paths.h"
#include "storage/meta_data.h"

namespace {

constexpr char kFolder[] = "/dest";

bool HasNetworkControls(const std::string& text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == ';') return true;
  }
  return false;
}

bool HasParentComponent(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

void CheckName(const std::string& name, int current) {
  const qb::DirectoryChange change = qb::ParseDirectoryChange(name.c_str(), current);
  if (change.kind == qb::DirectoryChange::kEnter || change.kind == qb::DirectoryChange::kProbeSubFolder) {
    if (change.destination < 1 || change.destination > 65535) std::abort();
  }
  int destination = 0;
  std::string fileName;
  if (!qb::ParseStoreName(name.c_str(), current, &destination, &fileName)) return;
  if (destination < 1 || destination > 65535) std::abort();
  if (HasNetworkControls(fileName) || fileName == "." || fileName == "..") std::abort();
  if (fileName.empty() != name.empty()) std::abort();
  const std::string path = std::string(kFolder) + "/" + fileName;
  if (qb::FolderPartOf(path) != std::string(kFolder) + "/") std::abort();
  const std::string base = qb::DbaBasePath(path);
  if (qb::FolderPartOf(base) != std::string(kFolder) + "/") std::abort();
  const std::string baseName = qb::NameOfPath(base);
  if (baseName.empty() || baseName == "." || baseName == "..") {
    if (base != path) std::abort();
  }
}

void CheckMeta(const std::string& name, const uint8_t* data, size_t size) {
  qb::MetaAttributes attributes;
  qb::ParseMetaAttributes(data, size, &attributes);
  const std::string sub = qb::CleanSubFolder(attributes.subFolder);
  if (!sub.empty() && (sub[0] == '/' || sub.back() == '/')) std::abort();
  if (HasParentComponent(sub) || HasNetworkControls(sub)) std::abort();
  // Names starting with "." are dropped on arrival and never placed.
  const std::string leaf = qb::NameOfPath(name);
  if (leaf.empty() || leaf[0] == '.') return;
  std::string placed;
  const std::string base = qb::DbaBasePath(std::string(kFolder) + "/" + leaf);
  if (qb::PlaceIntoSubFolder(base, sub, &placed)) {
    if (placed.compare(0, sizeof kFolder, std::string(kFolder) + "/") != 0) std::abort();
    if (HasParentComponent(placed)) std::abort();
  }
  (void)qb::IsMetaFileName(name);
  (void)qb::MetaBaseName(base);
  (void)qb::SeriesPath(placed, 3, static_cast<int>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int current = data[0] % 8;
  const char* text = reinterpret_cast<const char*>(data + 1);
  const size_t rest = size - 1;
  const void* end = std::memchr(text, '\0', rest);
  const size_t nameLength = end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) : rest;
  const std::string name(text, nameLength);
  CheckName(name, current);
  const size_t metaStart = nameLength < rest ? nameLength + 1 : rest;
  CheckMeta(name, data + 1 + metaStart, rest - metaStart);
  return 0;
}
