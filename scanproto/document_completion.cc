// The end of a document: the checksum gate, the raw road's assembly, the
// meta data and extension step, the receive log, the reply, and the closing
// steps that update the tray and announce the new file.
#include <cstring>

#include "config/settings.h"
#include "imaging/page_files.h"
#include "platform/event_loop.h"
#include "platform/trace.h"
#include "scanproto/access_lock.h"
#include "scanproto/connection_server.h"
#include "scanproto/dispatcher.h"
#include "scanproto/handlers.h"
#include "scanproto/raw_assembly.h"
#include "scanproto/received_header.h"
#include "scanproto/reception_support.h"
#include "scanproto/stored_document.h"
#include "storage/disk_space.h"
#include "storage/meta_data.h"

namespace qb {
namespace {

// The extension library's answer that marks the document in the log and
// keeps it from being announced.
constexpr int32_t kExtensionMarked = 4;
constexpr uint16_t kStatusComplete = 0;
constexpr uint16_t kStatusFailed = 0xFFF1;

void AnswerDataEnd(ScanJob& job) { SendThreeWords(job, DT_DATA_ENDRES, 1, 0); }

bool HasMetaText(const ScanJob& job) { return ReadBe16(job.paraCopy + 6) != 0; }

bool IsAttributeRecord(const ScanJob& job) {
  const ByteBlock record = JobMetaRecord(job);
  return HasMetaTag(record.data, record.size, kTagAttributes);
}

void LogDocument(ScanJob& job, int32_t extensionResult) {
  LogStoredDocument(job, extensionResult != kExtensionMarked);
  job.outputPath[0] = '\0';
}

// A stored (or failed) document: meta data, extension, log and the reply,
// in the order the printer expects them.
void Complete(ScanJob& job, uint16_t* status, int32_t* extensionResult) {
  bool deferred = false;
  // The files go in place, durable, before anything tells of them.
  if (job.fileOk != 0 && !CommitDocumentFiles(job)) job.fileOk = 0;
  if (job.fileOk == 0) {
    SendPcCancel(job, kReasonPcCancel);
    *status = kStatusFailed;
  } else {
    if (HasMetaText(job)) {
      // Attribute records may take the extension library a while; the
      // printer gets its answer first.
      deferred = IsAttributeRecord(job);
      if (!deferred) RunExtensionStep(job, extensionResult);
    }
    if (job.deferredNotify == 0 && !deferred) LogDocument(job, *extensionResult);
  }
  AnswerDataEnd(job);
  if (deferred) {
    RunExtensionStep(job, extensionResult);
    LogDocument(job, *extensionResult);
  }
  if (job.deferredNotify == 0) job.pageCount = 0;
}

void Announce() {
  TraceLog("  New File Recieve[WM_CONNECT_MSG, WM_COMM_RCV_NEW_FILE] ");
  const ScanServerHooks& hooks = ServerHooks();
  if (hooks.notifyConfig) hooks.notifyConfig(WM_USER + 1, 3);
  if (!GetReceive()) return;
  if (hooks.receiveEndSignal) {
    hooks.receiveEndSignal();
  } else {
    SendToMainWindow(WM_COMMAND, kCmdNewFileNotice, 0);
  }
  TraceLog("  Notify Dialog Open ");
}

void Close(ScanJob& job, uint16_t status, int32_t extensionResult) {
  job.hddFreeBytes = FolderFreeBytes(job.folderPath);
  TraceLog("  HDD Free Bytes     =%ld", static_cast<long>(job.hddFreeBytes));
  TraceLog("  Rcv Total ImgBytes =%ld", static_cast<long>(job.rcvTotalImgBytes));
  const int freePercent = GetFreePercent(job.folderPath);
  SetTrayState(job.hddFreeBytes < kDiskFullLimit ? kTrayFull
               : GetHDD() <= 100 - freePercent   ? kTrayWarning
                                                 : kTrayNormal);
  if (job.discardMode == 1 || status != kStatusComplete) return;
  if (job.deferredNotify == 1) {
    job.notifyPending = 1;  // logged and announced when the printer hangs up
  } else if (extensionResult != kExtensionMarked) {
    Announce();
  }
}

}  // namespace

void OnDataEnd(ScanJob& job, uint8_t* body, size_t length) {
  int32_t extensionResult = 1;
  uint16_t status = BodyWord(body, length, 2);
  job.imageDataMode = 0;

  if (status != kStatusComplete) {
    TraceLog(" DataEnd　is not DT_DATA_END_COMPLETE");
    AnswerDataEnd(job);
  } else if (job.discardMode == 1) {
    DiscardJobFiles(job);
    AnswerDataEnd(job);
  } else if (job.checksumOk == 0 && job.deferredNotify == 0) {
    // A printer of the second group without a confirmed checksum gets no
    // answer and no file, yet the closing steps below still announce a
    // document; this is what those printers have always seen.
    if (ClassifyPeer(job.peerIp) != kClassGroupB) {
      TraceLog(" DataEnd: check sum error!");
      DiscardJobFiles(job);
      job.discardMode = 1;
      AnswerDataEnd(job);
      LockClient(job.peerIp);
    }
  } else {
    if (HeaderField16(job, kHeaderDataForm) == kDataFormRaw) {
      if (job.fileOk == 0) {
        AnswerDataEnd(job);
        DeleteRawPageFiles(job);
      } else {
        AssembleRawDocument(job);
      }
    }
    Complete(job, &status, &extensionResult);
  }
  Close(job, status, extensionResult);
}

}  // namespace qb
