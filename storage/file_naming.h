// Names of received files in destination folders: the collision rule that
// keeps a new document from replacing files already there, and the page
// numbering of multi-file documents.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/env.h"

namespace qb {

// stem, then "_%03d" when digits is 3 or "_%06d" when digits is 6 (any
// other value adds nothing), then the extension (given with its dot).
std::string MakeNumberedName(const char* stem, int number, int digits, const char* extension);

// One step of the collision rule for a file name (no folder).
struct NameCandidate {
  std::string candidate;  // the name to look for; may hold "?" wildcards
  std::string stem;       // the name before its page number and extension
  int number = 0;         // the page number of the desired name
  int digits = 0;         // 3 when the name carries a page number, else 0
};

// Counter `n` adds the mark "(n)" (none for 0). A base name ending in "_"
// and a three-character page number (any suffix with a non-zero decimal
// value, or exactly "000") stands for its whole page series: the candidate
// is stem + "_???" + extension, so doc_000.pdf collides with any existing
// doc_NNN.pdf and moves to doc(1)_000.pdf. Other names get the mark before
// the extension: report(1).pdf. Under code page 932 the name is handled as
// characters, so the second byte of a double-byte character is never taken
// for "_"; the texts come back in code page 932, at most 255 bytes.
NameCandidate MakeNameCandidate(const std::string& name, int n);

// The full path under which a new file for the desired `path` is stored.
// Unless `overwrite` (the setting OverWrite) is on, candidates for counters
// 0, 0, 1, 2, ... are probed until none matches a file in the folder or a
// name reserved by a job that is still running; there is no upper limit.
// The name found is reserved for `owner` (see NameReservations; 0 reserves
// nothing). The result is folder + MakeNumberedName(stem, number, digits,
// extension); it is also stored in `fullPath`, and `stem` and `digits` let
// the caller number further pages. Any output pointer may be null. Never
// changes the process's current directory; safe to call from several
// threads. A folder that does not exist gives the desired name back.
std::string MakeUniqueFileName(const std::string& path, bool overwrite, std::string* fullPath,
                               std::string* stem, int* digits, uint64_t owner, Env& env);

// The first of `name`, then "stem(1)...", "stem(2)...", ... (the mark
// before a page number "_NNN" or before the extension) that is neither a
// file in `folder` nor reserved, nor refused by `alsoTaken`; reserved for
// `owner`. Exact names, no page-series wildcard: for further files of a
// document, whose own earlier pages share the series. `folder` ends in "/".
std::string MakeFreeExactName(const std::string& folder, const std::string& name, uint64_t owner,
                              const std::function<bool(const std::string&)>& alsoTaken, Env& env);

// The same path with the number after the last "_" of the base name
// replaced by `number`, written as wide as the old one: one character "%d",
// two "%02d", four "%04d", any other width "%03d". A name without "_" is
// returned unchanged.
std::string RenumberFileName(const std::string& path, int number);

}  // namespace qb
