// The receive log: one line per stored document and per fax notice, in the
// text file "tvscanlog_f.bin" of the data folder, read by the programs that
// show the user what arrived. Columns are separated by ";"; the first line
// is the header "//Quillbox Receive Log List" once the file has been
// trimmed. Every operation holds GlobalLock from before opening the file to
// after closing it, so lines from the scan protocol and the FTP sessions
// never interleave and a trim never runs during an append. A log that
// cannot be opened is skipped; the job is not affected.
#pragma once

#include "platform/env.h"
#include "storage/meta_data.h"
#include "storage/stored_document.h"

namespace qb {

constexpr char kReceiveLogHeader[] = "//Quillbox Receive Log List";
// Bytes of the scanner column.
constexpr size_t kScannerColumnBytes = 16;

// The file is reached through `env`.
//
// Appends "date time *;scanner;name;count;folder" for the document's stored
// file `outputPath`. The scanner is the sender name, else the request's
// sender name, cut to 16 bytes without splitting a double-byte character.
// Count is `fileCount`. The folder column is the file's folder without its
// trailing separator. `normal` false (the extension library returned
// status 4) writes the marker as two blanks and the name as "*** name ***".
// True when the line was written.
bool LogStoredDocument(const StoredDocument& document, bool normal, Env& env);

// Appends "date *;B[ C];F;1;E;D" for a fax-receive notice.
bool LogFaxNotice(const FaxNotice& notice, Env& env);

// Opens the log for appending and closes it again, creating a missing file.
void TouchReceiveLog(Env& env);

// Keeps the log at the setting List (default 100) entries: drops the oldest
// entries beyond it and every "//" line after the first line, then writes
// the header and the rest (into a new file put in the old one's place). A
// log with nothing to drop is not touched. Every entry the receiver appends
// is followed by this.
void TrimReceiveLog(Env& env);

}  // namespace qb
