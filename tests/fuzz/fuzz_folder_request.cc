// The direct port's folder requests, after deciphering: the folder-name
// request (destination number) and the sub-folder listing (path offset and
// path). The input is the request body; both handlers run on it. Relative
// paths resolve inside the target's root, which holds destination folders
// and a sub-folder. The reply must fit the send buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exact_copy.h"
#include "fuzz_root.h"
#include "handler_job.h"
#include "scanproto/dispatcher.h"
#include "scanproto/handlers.h"

namespace {

qb::fuzz::FuzzRoot& Root() {
  static qb::fuzz::FuzzRoot root("[MANAGEMENT]\n");
  return root;
}

qb::fuzz::HandlerJob& Connection() {
  static qb::fuzz::HandlerJob connection(qb::kDirectPort);
  return connection;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Root();
  qb::ScanJob& job = Connection().Fresh("127.0.0.2");
  job.majorVersion = 3;
  job.clientKeyNo = 77;
  job.serverKeyNo = 1234;

  qb::fuzz::ExactCopy body(data, size);
  qb::OnDirName(job, body.data(), body.size());
  if (job.txLength + 2u > qb::kTxBufferSize) std::abort();
  if (size != 0) std::memcpy(body.data(), data, size);  // handlers may work in place
  qb::OnDirList(job, body.data(), body.size());
  if (job.txLength + 2u > qb::kTxBufferSize) std::abort();
  Connection().DrainReplies();
  return 0;
}
