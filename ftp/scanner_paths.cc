#include "ftp/scanner_paths.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "storage/name_cleaning.h"
#include "storage/path_parts.h"

namespace qb {
namespace {

// Destination numbers are 16-bit: a larger number must not wrap onto a
// small one.
constexpr long kMaxDestination = 65535;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Whether `byte` can follow a lead byte in code page 932. "/" cannot: on
// this file system it always separates, whatever byte stands before it.
bool IsTrailByte(unsigned char byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

// Length of the character at `p` (2 for a double-byte character whose
// second byte is there).
size_t CharLength(const char* p) {
  return IsDoubleByteLead(static_cast<unsigned char>(p[0])) &&
                 IsTrailByte(static_cast<unsigned char>(p[1]))
             ? 2
             : 1;
}

// The decimal number at the start of `text` by the atoi rule, saturated
// just above the largest destination.
long LeadingNumber(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  long value = 0;
  while (*text >= '0' && *text <= '9') {
    if (value <= kMaxDestination) value = value * 10 + (*text - '0');
    ++text;
  }
  return negative ? -value : value;
}

}  // namespace

DirectoryChange ParseDirectoryChange(const char* path, int currentDestination) {
  DirectoryChange change;
  if ((std::strcmp(path, "..") == 0 && currentDestination != 0) || std::strcmp(path, "/") == 0) {
    change.kind = DirectoryChange::kRoot;
    return change;
  }
  const char* p = path;
  while (*p == ' ' || *p == '.' || *p == '/' || *p == '\\' || *p == '0') ++p;
  if (*p < '1' || *p > '9') return change;
  const char* digits = p;
  long number = 0;
  while (*p >= '0' && *p <= '9') {
    if (number <= kMaxDestination) number = number * 10 + (*p - '0');
    ++p;
  }
  (void)digits;
  if (number > kMaxDestination) return change;
  change.destination = static_cast<int>(number);
  if (IsSeparator(*p) && p[1] != '\0') {
    change.kind = DirectoryChange::kProbeSubFolder;
    for (const char* q = p + 1; *q != '\0';) {
      const size_t length = CharLength(q);
      if (length == 1 && *q == '\\') {
        change.subFolder += '/';
      } else {
        change.subFolder.append(q, length);
      }
      q += length;
    }
    return change;
  }
  change.kind = DirectoryChange::kEnter;
  return change;
}

bool ParseStoreName(const char* name, int currentDestination, int* destination, std::string* fileName) {
  long d = currentDestination;
  const char* p = name;
  if (IsSeparator(*p)) {
    d = 0;
    ++p;
  }
  std::string component;
  for (;;) {
    if (*p == '\0') break;
    if (IsSeparator(*p)) {
      if (component.empty()) return false;
      if (component == "..") {
        if (d == 0) return false;
        d = 0;
      } else if (component != ".") {
        d = LeadingNumber(component.c_str());
        if (d < 1 || d > kMaxDestination) return false;
      }
      component.clear();
      ++p;
      continue;
    }
    const size_t length = CharLength(p);
    component.append(p, length);
    p += length;
  }
  if (d < 1) return false;
  // The name goes into a file name and the receive log.
  RemoveControlsAndSemicolons(&component);
  // Deliberately refused: a name that ends at a separator ("1/"), or names
  // a folder entry, would make the upload take the name of a folder.
  if (component.empty() && *name != '\0') return false;
  if (component == "." || component == "..") return false;
  *destination = static_cast<int>(d);
  *fileName = component;
  return true;
}

std::string NameOfPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPartOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsMetaFileName(const std::string& name) {
  static const size_t prefix = std::strlen(kDbaPrefix);
  if (name.size() < prefix + 5 || name.compare(0, prefix, kDbaPrefix) != 0) return false;
  const char* tail = name.c_str() + name.size() - 5;
  const char* meta = ".meta";
  for (int i = 0; i < 5; ++i) {
    if (std::tolower(static_cast<unsigned char>(tail[i])) != meta[i]) return false;
  }
  return true;
}

std::string MetaBaseName(const std::string& path) {
  const std::string name = NameOfPath(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string DbaBasePath(const std::string& path) {
  const std::string name = NameOfPath(path);
  static const size_t prefix = std::strlen(kDbaPrefix);
  if (name.compare(0, prefix, kDbaPrefix) != 0) return path;
  int hashes = 0;
  size_t i = prefix;
  while (i < name.size() && hashes < 2) {
    const size_t length = CharLength(name.c_str() + i);
    if (length == 1 && name[i] == '#') ++hashes;
    i += length;
  }
  if (hashes < 2) return path;
  const std::string rest = name.substr(i);
  // The name comes from the network: it must still name a plain file of
  // the folder, and never one of the receiver's own hidden staging files.
  if (rest.empty() || rest[0] == '.') return path;
  return FolderPartOf(path) + rest;
}

std::string CleanSubFolder(const std::string& text) {
  std::string sub = text;
  RemoveControlsAndSemicolons(&sub);
  NeutraliseParentRefs(&sub);
  if (sub.empty() || IsSeparator(sub[0])) return {};
  std::string out;
  for (size_t i = 0; i < sub.size();) {
    const size_t length = CharLength(sub.c_str() + i);
    if (length == 1 && IsSeparator(sub[i])) {
      if (!out.empty() && out.back() != '/') out += '/';
    } else {
      out.append(sub, i, length);
    }
    i += length;
  }
  while (!out.empty() && out.back() == '/') out.pop_back();
  // A separator-free ".." left over at a component end cannot appear after
  // NeutraliseParentRefs; a "." component is harmless.
  return out;
}

bool PlaceIntoSubFolder(const std::string& base, const std::string& subFolder, std::string* out) {
  if (subFolder.empty()) {
    *out = base;
    return true;
  }
  if (base.size() + subFolder.size() >= 258) return false;
  const std::string folder = FolderPartOf(base);
  const bool ends = subFolder.back() == '/';
  if (folder.empty()) {
    *out = subFolder + (ends ? "" : "/") + base;
  } else {
    *out = folder + subFolder + (ends ? "" : "/") + NameOfPath(base);
  }
  return true;
}

std::string SeriesPath(const std::string& firstPath, int digits, int number) {
  if (digits <= 0 || digits > 9) return firstPath;
  const size_t underscore = FindLastUnderscore(firstPath);
  if (underscore == std::string::npos || underscore + static_cast<size_t>(digits) >= firstPath.size()) {
    return firstPath;
  }
  char nine[16];
  std::snprintf(nine, sizeof nine, "%09d", number);
  std::string out = firstPath;
  out.replace(underscore + 1, static_cast<size_t>(digits), nine + 9 - digits);
  return out;
}

}  // namespace qb
