// Making names and folder texts that arrive from scanners safe to use as
// parts of local paths and receive-log fields. All work in place; the first
// two never change the length, so they suit the fixed buffers of the scan
// job.
#pragma once

#include <string>

namespace qb {

// Replaces each of \ / : , ; * ? | " < > by "_". Under code page 932 the
// name is handled as characters, so the second byte of a double-byte
// character is never altered; a name that does not convert is left as it
// is.
void ReplaceInvalidNameChars(char* name);
void ReplaceInvalidNameChars(std::string* name);

// Overwrites every "..\" and "../" with "xxx", and a ".." that ends the
// text as a whole component with "xx", so that a sub-folder taken from
// scanner data can never climb out of the destination folder.
void NeutraliseParentRefs(char* text);
void NeutraliseParentRefs(std::string* text);

// Removes control characters (line ends among them, and DEL) and ";" from a
// name or log field that came from the network, on either road: a file name
// never holds a line end, and a log entry never gains a field or a line.
// Code page 932 text keeps its characters: no second byte of a double-byte
// character is a control character or ";". A char buffer stays terminated.
void RemoveControlsAndSemicolons(std::string* text);
void RemoveControlsAndSemicolons(char* text);

}  // namespace qb
