// The scanner session's FTP folder tree and the names printers store: the
// root "/" whose sub-folders "/1", "/2", ... are the numbered destinations,
// and the naming rules applied to stored files when the session is saved.
// Everything here is plain text work on names from the network; nothing
// touches the file system.
#pragma once

#include <cstdint>
#include <string>

namespace qb {

// Prefix of the names printers give to meta data files and to documents
// that belong to one ("@DBA@field#field#name").
constexpr char kDbaPrefix[] = "@DBA@";

// What a CWD argument asks for.
struct DirectoryChange {
  enum Kind { kRefused, kRoot, kEnter, kProbeSubFolder } kind = kRefused;
  int destination = 0;      // kEnter, kProbeSubFolder
  std::string subFolder;    // kProbeSubFolder: the rest after "n/", separators made "/"
};
// ".." (away from the root) and "/" lead to the root; otherwise leading
// blanks, ".", "/", "\" and "0" are skipped and a destination number
// starting with 1..9 must follow; "n/rest" asks whether a folder exists
// below destination n without entering it.
DirectoryChange ParseDirectoryChange(const char* path, int currentDestination);

// A STOR, LIST or NLST name mapped onto the tree: the destination it
// addresses and the file name after the last separator, without control
// characters and ";" (empty only for an empty `name`, which names the
// current folder). False for names that reach the root or climb above it,
// empty or non-positive folder components, and names ending in a
// separator, "." or "..". A "/" always separates, also after a code page
// 932 lead byte.
bool ParseStoreName(const char* name, int currentDestination, int* destination, std::string* fileName);

// The part after the last "/" (the name of a local path).
std::string NameOfPath(const std::string& path);
// The part up to and including the last "/" ("" without one).
std::string FolderPartOf(const std::string& path);

// True for "@DBA@....meta" (prefix case-sensitive, extension any case).
bool IsMetaFileName(const std::string& name);
// The name of a meta file's path without folder and without its last
// extension: what the names of its documents start with.
std::string MetaBaseName(const std::string& path);

// "@DBA@a#b#name" stored as folder/that becomes folder/name. Other names,
// names without both "#", and names that would leave nothing usable (empty,
// "." or "..", or a hidden name) keep the path as it is.
std::string DbaBasePath(const std::string& path);

// A sub-folder text from meta data made fit to join to a destination folder:
// parent references neutralised, "\" made "/", doubled separators and a
// trailing one removed. An absolute text (starting with a separator) is
// refused: the result is "".
std::string CleanSubFolder(const std::string& text);

// Places `base` (folder/name) into `subFolder` below its folder. An empty
// sub-folder leaves `base`; false when the result would be too long.
bool PlaceIntoSubFolder(const std::string& base, const std::string& subFolder, std::string* out);

// The path of a further file of a page series: `firstPath` with the
// `digits` characters after its last "_" replaced by `number`, zero-padded
// to that width. `firstPath` unchanged when it has no such number.
std::string SeriesPath(const std::string& firstPath, int digits, int number);

}  // namespace qb
