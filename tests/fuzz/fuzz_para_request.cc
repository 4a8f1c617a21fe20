// Parameter requests and their meta data, handler by handler: the job
// port's short and extended requests (destination, sender name, attribute
// record with file name and sub-folder, fax-receive notice for destination
// 0) and the direct port's folder check, after the capability request that
// sets the protocol version.
//
// Input: byte 0 picks the request handler (bits 0-1), the protocol version
// the capability exchange left (bits 2-3: 1.0, 2.0, 3.0, 3.1) and the peer
// (bit 4: 127.0.0.1, the PC itself, which is never served; otherwise a
// peer whose class cannot be told, which is served). The rest is the
// request body as received. The settings ask for sender-based file names
// (TOVScan 1) so that that naming runs as well.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exact_copy.h"
#include "fuzz_root.h"
#include "handler_job.h"
#include "platform/files.h"
#include "scanproto/access_lock.h"
#include "scanproto/handlers.h"

namespace {

qb::fuzz::FuzzRoot& Root() {
  static qb::fuzz::FuzzRoot root("[MANAGEMENT]\n[IDS]\nTOVScan=1\nDepName=SALES\n");
  return root;
}

qb::fuzz::HandlerJob& Connection() {
  static qb::fuzz::HandlerJob connection(qb::kJobPort);
  return connection;
}

using Handler = void (*)(qb::ScanJob&, uint8_t*, size_t);
constexpr Handler kHandlers[] = {qb::OnPara, qb::OnPara2, qb::OnPara2Direct, qb::OnPara2};
constexpr uint16_t kVersions[][2] = {{1, 0}, {2, 0}, {3, 0}, {3, 1}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Root();
  const uint8_t control = data[0];
  const bool direct = (control & 3) == 2;
  qb::ScanJob& job = Connection().Fresh((control & 0x10) != 0 ? "127.0.0.1" : "127.0.0.2");
  job.listenPort = direct ? qb::kDirectPort : qb::kJobPort;
  job.majorVersion = kVersions[(control >> 2) & 3][0];
  job.minorVersion = kVersions[(control >> 2) & 3][1];
  qb::ClearLockedClients();

  qb::fuzz::ExactCopy body(data + 1, size - 1);
  kHandlers[control & 3](job, body.data(), body.size());

  // Whatever the request said, the job's texts stay terminated inside their
  // fields and a kept meta-data block has the length the job records.
  const qb::Document& doc = job.document;
  for (const char* text : {doc.folderPath, doc.fileName}) {
    if (std::memchr(text, '\0', qb::kPathMax) == nullptr) std::abort();
  }
  if ((doc.metaData == nullptr) != (doc.metaDataLength == 0)) std::abort();
  job.document.metaData.reset();
  qb::RemoveFile(Root().ReceiveLog());  // notices are appended to it
  Connection().DrainReplies();
  return 0;
}
