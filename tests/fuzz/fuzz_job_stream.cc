// The job port as a printer uses it: the input is the byte stream a printer
// sends after the greeting (length-framed messages, image data, anything),
// framed and dispatched by the real server, which stores documents in the
// destination folders of the target's root and writes its receive log.
//
// Built twice (see CMakeLists.txt): with the default settings, and with
// QB_FUZZ_ALT_SETTINGS for OverWrite 0 (collision-free names), TOVScan 1
// (sender-based file names with a department) and code page 932 for file
// names and trace texts, with the trace captured so that its texts are made.
#include <cstdint>
#include <cstdlib>

#include "platform/trace.h"
#include "stream_driver.h"

namespace {

#ifdef QB_FUZZ_ALT_SETTINGS
constexpr char kSettings[] =
    "[MANAGEMENT]\nOverWrite=0\nList=20\n[IDS]\nTOVScan=1\nDepName=SALES\n";
#else
constexpr char kSettings[] = "[MANAGEMENT]\nList=20\n";
#endif

qb::fuzz::StreamDriver& Driver() {
  static qb::fuzz::StreamDriver* driver = [] {
#ifdef QB_FUZZ_ALT_SETTINGS
    ::setenv("QUILLBOX_CODEPAGE", "932", 1);
    qb::StartTraceCapture();
#endif
    return new qb::fuzz::StreamDriver(kSettings);
  }();
  return *driver;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Driver().JobConversation(data, size);
#ifdef QB_FUZZ_ALT_SETTINGS
  qb::TakeCapturedTrace();
#endif
  return 0;
}
