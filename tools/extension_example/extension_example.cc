// An extension library that records every call: one line per stored
// document, appended to the file named by QUERN_EXT_EXAMPLE_LOG (default
// "quern_ext_example.log" in the current directory). When QUERN_EXT_EXAMPLE_STATUS
// is "4" it sets the status to 4, so the receiver marks the document's
// receive-log entry. Both variables are read at each call, since the
// receiver loads the library afresh for every document.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "storage/extension_api.h"

namespace {

const char* OrEmpty(const char* text) { return text == nullptr ? "" : text; }

}  // namespace

extern "C" __attribute__((visibility("default"))) int quernExtExpFunc(int operation,
                                                                      int32_t* status,
                                                                      ExtParams* params,
                                                                      void* reserved) {
  (void)reserved;
  const char* logPath = std::getenv("QUERN_EXT_EXAMPLE_LOG");
  if (logPath == nullptr || logPath[0] == '\0') logPath = "quern_ext_example.log";
  if (std::FILE* log = std::fopen(logPath, "a")) {
    // The record's size is not passed along, so the example does not read
    // into it; an extension that does must stay within the length its
    // header gives.
    const char* meta = params != nullptr && params->pMetaData != nullptr ? "yes" : "no";
    std::fprintf(log,
                 "operation=%d\tstatus=%d\tscanner=%s\tfiles=%d\tpath=%s\tsender=%s\t"
                 "destination=%d\tmeta=%s\n",
                 operation, status == nullptr ? -1 : *status,
                 params == nullptr ? "" : OrEmpty(params->pScannerAddr),
                 params == nullptr ? 0 : params->slRcvFileNum,
                 params == nullptr ? "" : OrEmpty(params->pRcvFileName),
                 params == nullptr ? "" : OrEmpty(params->pSenderNameJp),
                 params == nullptr ? 0 : params->slSaveNo, meta);
    std::fclose(log);
  }
  // A slow library, for trying what a receiver does while one runs.
  if (const char* sleepMs = std::getenv("QUERN_EXT_EXAMPLE_SLEEP_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleepMs)));
  }
  const char* wanted = std::getenv("QUERN_EXT_EXAMPLE_STATUS");
  if (status != nullptr && wanted != nullptr && std::strcmp(wanted, "4") == 0) {
    *status = QUERN_EXT_STATUS_MARKED;
  }
  return 0;
}
