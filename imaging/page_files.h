// Temporary page files of the raw road and the TIFF writer that assembles
// them. A temporary page file holds the page's 84-byte image header (host
// order) followed by the page's coded data; it lives in the temporary folder
// as "rcvimg<tempJobNo>_<page index>.dat".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/env.h"

namespace qb {

// Full path of page `pageIndex`'s temporary page file of job `tempJobNo`.
std::string TempDatName(int pageIndex, uint32_t tempJobNo);

// Full path of the temporary TIFF "rcvimg<tempJobNo>_<pageIndex>.tif".
std::string TempTifName(uint32_t tempJobNo, int pageIndex);

// Draws the job numbers of temporary page files. One counter serves every
// job that shares the temporary folder, so that no two draw the same number.
class TempPageCounter {
 public:
  // `last` is the number drawn last; the program starts at 0.
  explicit TempPageCounter(uint32_t last = 0) : last_(last) {}

  // Makes the temporary page file name for `pageIndex` into `path` (size
  // `pathSize`). When `path` is empty or `*tempJobNo` is still 0 (the job
  // has no page file of its own yet, though a file sent whole may have left
  // a path) a new job number is drawn, skipping numbers whose file already
  // exists, and stored in `*tempJobNo`; otherwise the name is built from
  // `*tempJobNo` and any file of that name is deleted. Returns false when
  // the name does not fit into `path` or no free number was found. Files
  // are looked up and deleted through `env`.
  bool MakeTempPageName(int pageIndex, char* path, size_t pathSize, uint32_t* tempJobNo, Env& env);

 private:
  uint32_t last_;
};

// Assembles `pageCount` pages, starting at `firstPage`, from the temporary
// page files of `tempJobNo` into a new little-endian TIFF at `outputPath`
// (replacing any file there): one directory of 17 entries per page, then its
// resolutions, then its coded data as one strip. `codingMode` 1 or 2 writes
// Compression 3, 3 writes Compression 4; `fillFlag` 0 writes FillOrder 1,
// anything else FillOrder 2 (the coder's LSB-first output). Each page file is
// deleted once copied. Returns false when the output cannot be created or
// written, a page file cannot be opened or its header read, or the mode is
// not 1 to 3; the pages written before stay in the output. Every file
// goes through `env`.
bool WriteTiff(uint32_t tempJobNo, int firstPage, int codingMode, int fillFlag,
               const char* outputPath, int pageCount, Env& env);

// Deletes the temporary page files 0 to pageCount - 1 of job `tempJobNo`.
void DeleteTempPages(uint32_t tempJobNo, int pageCount, Env& env);

// Swaps the two bytes of each of the length / 2 16-bit words of `buffer`.
void SwapWordBytes(uint8_t* buffer, size_t length);

}  // namespace qb
