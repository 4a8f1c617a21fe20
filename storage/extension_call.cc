#include "storage/extension_call.h"

#include <algorithm>

#include "platform/dynlib.h"
#include "storage/bounded_text.h"
#include "storage/destinations.h"
#include "storage/extension_api.h"
#include "storage/job_data.h"
#include "storage/meta_data.h"
#include "storage/raw_dump.h"

namespace qb {
namespace {

constexpr size_t kMetaLengthAt = 10;
constexpr size_t kSenderNameLimit = 32;

// The dump shows as many bytes of the record as its header claims, but
// never more than really arrived.
void DumpMetaRecord(const ByteBlock& record) {
  size_t claimed = BigEndian16At(record.data, record.size, kMetaLengthAt);
  RawDumpText("MetaData=");
  RawDumpBytes(record.data, std::min(claimed, record.size));
}

void CallExtension(const std::string& libraryName, ScanJob* job, const ByteBlock& meta,
                   int32_t* status) {
  if (RawDumpEnabled()) RawDumpPrintf("Loading ExtDLL : %s\n", libraryName.c_str());
  DynamicLibrary library(libraryName);
  auto function = reinterpret_cast<QuernExtExpFunc>(library.Symbol(QUERN_EXT_EXPORT_NAME));
  if (function == nullptr) return;

  // Terminated copies: the job's buffers are filled from the network and
  // the library must not read past them.
  std::string scanner = FixedText(job->peerIp, sizeof job->peerIp);
  std::string storedPath = FixedText(job->outputPath, sizeof job->outputPath);
  std::string sender = FixedText(job->senderName, sizeof job->senderName);
  ExtParams params;
  params.pScannerAddr = scanner.c_str();
  params.slRcvFileNum = StoredFileCount(*job);
  params.pRcvFileName = storedPath.c_str();
  params.pMetaData = meta.data;
  params.pSenderNameJp = sender.c_str();
  params.slSaveNo = JobDestinationNumber(*job);

  if (RawDumpEnabled()) {
    DumpMetaRecord(meta);
    RawDumpPrintf(
        "QuernExtExpFunc : pScannerAddr = %s, slRcvFileNum = %d, pRcvFileName = %s, "
        "pSenderNameJp = %s, slSaveNo = %d\n",
        params.pScannerAddr, params.slRcvFileNum, params.pRcvFileName, params.pSenderNameJp,
        params.slSaveNo);
  }
  int result = function(QUERN_EXT_OPERATION_STORED, status, &params, nullptr);
  if (RawDumpEnabled()) RawDumpPrintf("QuernExtExpFunc complete(%d)\n", result);
}

}  // namespace

void qnExtParaOperation(ScanJob* job, int32_t* status) {
  DestinationRecord destination;
  if (!LookupDestination(JobDestinationNumber(*job), &destination)) return;

  ByteBlock meta = JobMetaRecord(*job);
  if (!destination.extensionLibrary.empty()) {
    CallExtension(destination.extensionLibrary, job, meta, status);
  }
  if (HasMetaTag(meta.data, meta.size, kTagSenderName)) {
    std::string sender = TextAt(meta.data, meta.size, kMetaTagLength, kSenderNameLimit);
    CopyToBuffer(sender, job->senderName, sizeof job->senderName);
  }
}

}  // namespace qb
