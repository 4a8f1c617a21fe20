// Received-file checks: the input is a file as a printer sent it, checked
// as TIFF, JPEG and PDF, each with and without deferred notification (which
// widens the allowed resolutions), and through the dispatching entry for
// every data form. The file holds exactly the input's bytes: a read past its
// end comes back short, as it would from a disk file.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "imaging/file_checks.h"
#include "platform/string_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const qb::StringFile file(std::string(reinterpret_cast<const char*>(data), size));
  for (int (*check)(const qb::ReadableFile&, bool) :
       {qb::CheckTiffFile, qb::CheckJpegFile, qb::CheckPdfFile}) {
    for (bool deferred : {false, true}) {
      const int result = check(file, deferred);
      // Callers tell a pass from the rest; the rest are the listed codes.
      if (result != qb::kCheckPassed && result % 10 != 1 && result % 10 != 3) std::abort();
    }
  }
  for (int form : {0, 1, 4, 5}) qb::CheckReceivedFile(file, form, 0);
  return 0;
}
