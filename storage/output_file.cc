#include "storage/output_file.h"

#include "platform/files.h"

namespace qb {

std::FILE* OpenOutputFile(const std::string& path, const char* mode) {
  if (std::FILE* file = OpenGroupWritable(path, mode)) return file;
  // A document that replaces an earlier one (OverWrite) may meet a file
  // that a user marked read-only; clearing that one attribute is the only
  // change of rights the program makes.
  if (IsReadOnlyFile(path) && MakeWritable(path)) return std::fopen(path.c_str(), mode);
  // Creation can fail where a plain open succeeds (an existing file in a
  // folder that is not writable).
  return std::fopen(path.c_str(), mode);
}

}  // namespace qb
