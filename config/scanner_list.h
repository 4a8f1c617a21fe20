// The list of scanners connected right now (settings section SCANNERADDR,
// keys Scanner1.., newest first, at most 110) and the job counter (SCANJOB).
// Every operation holds GlobalLock for its whole run.
#pragma once

#include <cstddef>

namespace qb {

constexpr int kMaxScannerEntries = 110;

// Number of leading "Scanner" keys of the section.
int CountScannerEntries();
// Value of Scanner<position>; false and an empty buffer when missing.
bool ReadScannerEntry(int position, char* buffer, size_t size);
// Puts a new connection at the top; the oldest entry falls off a full list.
bool AddScannerEntry(const char* address, const char* name, int connectionNumber);
// Removes every entry that begins with the connection's key (a prefix match:
// connection 12 also removes connection 123 of the same address and name).
bool RemoveScannerEntry(const char* address, const char* name, int connectionNumber);
// Deletes Scanner1 up to the current count.
bool ClearScannerEntries();
// The number for the next job; advances the counter (0 -> 1, 9999 wraps to 1).
int NextJobNumber();

}  // namespace qb
