// Received-file checks: the input is a file as a printer sent it, checked
// as TIFF, JPEG and PDF, each with and without deferred notification (which
// widens the allowed resolutions). The file lives in a memory file behind a
// real descriptor, so seeking and reading behave as on disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "imaging/file_checks.h"

namespace {

// The memory file; each input gets a stream of its own on it, so that no
// buffered byte of the previous input is ever read.
int MemoryFile() {
  static const int fd = ::memfd_create("received", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = MemoryFile();
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
    std::abort();
  }
  std::FILE* file = ::fdopen(::dup(fd), "rb");
  if (file == nullptr) std::abort();
  for (int (*check)(std::FILE*, bool) : {qb::CheckTiffFile, qb::CheckJpegFile, qb::CheckPdfFile}) {
    for (bool deferred : {false, true}) {
      std::rewind(file);
      const int result = check(file, deferred);
      // Callers tell a pass from the rest; the rest are the listed codes.
      if (result != qb::kCheckPassed && result % 10 != 1 && result % 10 != 3) std::abort();
    }
  }
  // The dispatching entry, for every data form a header can name.
  for (int form : {0, 1, 4, 5}) {
    std::rewind(file);
    qb::CheckReceivedFile(file, form, 0);
  }
  std::fclose(file);
  return 0;
}
