// Received-file checks: the input is a file as a printer sent it, checked
// as TIFF, JPEG and PDF, each with and without deferred notification (which
// widens the allowed resolutions), and through the dispatching entry for
// every data form. The file is a memory stream over a copy of exactly the
// input's bytes: a seek past its end fails where a disk file would fail the
// read after it, and each check treats both alike.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "exact_copy.h"
#include "imaging/file_checks.h"
#include "platform/string_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // a memory stream needs a byte; an empty file fails every check
  qb::fuzz::ExactCopy bytes(data, size);
  std::FILE* file = ::fmemopen(bytes.data(), size, "rb");
  if (file == nullptr) std::abort();
  const qb::StringFile memory(std::string(reinterpret_cast<const char*>(data), size));
  for (int (*check)(const qb::ReadableFile&, bool) :
       {qb::CheckTiffFile, qb::CheckJpegFile, qb::CheckPdfFile}) {
    for (bool deferred : {false, true}) {
      const int result = check(memory, deferred);
      // Callers tell a pass from the rest; the rest are the listed codes.
      if (result != qb::kCheckPassed && result % 10 != 1 && result % 10 != 3) std::abort();
    }
  }
  // The stream entry of the callers that still have one, over the same bytes.
  for (int form : {0, 1, 4, 5}) {
    std::rewind(file);
    qb::CheckReceivedFile(file, form, 0);
  }
  std::fclose(file);
  return 0;
}
