// Messages for a person: the message box and the system log.
#pragma once

namespace qb {

// "CAPTION: TEXT" on standard error and TEXT to the system log (ident
// "Quillbox"); returns at once, as an OK box would after a click.
void ShowMessageBox(const char* text, const char* caption);
// TEXT to the system log with priority error.
void LogSystemError(const char* text);

}  // namespace qb
