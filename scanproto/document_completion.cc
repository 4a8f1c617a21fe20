// The end of a document: the checksum gate, the raw road's assembly, the
// meta data and extension step, the receive log, the reply, and the closing
// steps that update the tray and announce the new file.
#include <cstring>
#include <memory>

#include "config/settings.h"
#include "imaging/page_files.h"
#include "platform/event_loop.h"
#include "platform/trace.h"
#include "scanproto/access_lock.h"
#include "scanproto/dispatcher.h"
#include "scanproto/handlers.h"
#include "scanproto/job_context.h"
#include "scanproto/raw_assembly.h"
#include "scanproto/received_header.h"
#include "scanproto/reception_support.h"
#include "scanproto/stored_document.h"
#include "storage/bounded_text.h"
#include "storage/delivery.h"
#include "storage/disk_space.h"
#include "storage/meta_data.h"

namespace qb {
namespace {

constexpr uint16_t kStatusComplete = 0;
constexpr uint16_t kStatusFailed = 0xFFF1;

void AnswerDataEnd(ScanJob& job) { SendThreeWords(job, DT_DATA_ENDRES, 1, 0); }

bool HasMetaText(const Document& doc) { return doc.para.metaOffset != 0; }

bool IsAttributeRecord(const Document& doc) {
  const ByteBlock record = DocumentMetaRecord(doc);
  return HasMetaTag(record.data, record.size, kTagAttributes);
}

// What the steps of one document's end hand on to each other.
struct DocumentEnd {
  uint16_t status = kStatusComplete;
  int32_t extensionResult = 1;
  bool deferred = false;  // the printer gets its answer before the extension
  bool allLanded = true;  // every file of the document is in place
  StoredDocument stored;  // what landed, as the log and the extension see it
};

// The document's files put in place, each on its own and durable before
// anything tells of them. The document's names follow a file that had to
// move to a free name.
void CommitDocument(ScanJob& job, DocumentEnd& end) {
  Document& doc = job.document;
  end.stored = StoredDocumentOf(job);
  const CommitOutcome outcome =
      job.context->delivery().Commit(doc.files, GetOverWrite(), &end.stored);
  for (const auto& [from, to] : outcome.moved) {
    TraceLog("  Save FName=%s", to.c_str());
    FollowDocumentMove(doc, from, to);
  }
  end.allLanded = outcome.AllLanded();
  if (outcome.landed == 0) doc.fileOk = false;
}

void CallExtension(ScanJob& job, DocumentEnd& end) {
  end.extensionResult = job.context->delivery().CallExtension(&end.stored, end.extensionResult);
  // A sender name from the meta data names the document from now on.
  CopyToBuffer(end.stored.senderName, job.document.senderName, sizeof job.document.senderName);
}

void LogDocument(ScanJob& job, const DocumentEnd& end) {
  job.context->delivery().Log(end.stored, end.extensionResult == kExtensionMarked);
  job.document.outputPath[0] = '\0';
}

// Off the loop: the raw road's assembly, the commit, and, unless the
// printer is answered first, the extension library and the log.
void StoreDocument(ScanJob& job, bool assemble, DocumentEnd& end) {
  Document& doc = job.document;
  if (assemble) AssembleRawDocument(doc);
  if (doc.fileOk) CommitDocument(job, end);
  if (!doc.fileOk) return;
  if (HasMetaText(doc)) {
    // Attribute records may take the extension library a while; the
    // printer gets its answer first.
    end.deferred = IsAttributeRecord(doc);
    if (!end.deferred) CallExtension(job, end);
  }
  if (!job.deferredNotify && !end.deferred) LogDocument(job, end);
}

// On the loop: the printer's answer. A document of which a file did not
// land is cancelled, so the printer does not take it as delivered; the
// files that did land stay, logged and announced.
void AnswerStoredDocument(ScanJob& job, DocumentEnd& end) {
  if (!job.document.fileOk || !end.allLanded) SendPcCancel(job, kReasonPcCancel);
  if (!job.document.fileOk) end.status = kStatusFailed;
  AnswerDataEnd(job);
}

// Off the loop again, after the answer: the deferred extension call and log.
void CallDeferredExtension(ScanJob& job, DocumentEnd& end) {
  CallExtension(job, end);
  LogDocument(job, end);
}

void Close(ScanJob& job, uint16_t status, int32_t extensionResult) {
  Document& doc = job.document;
  const VolumeSpace space = MeasureVolume(doc.folderPath, job.context->env());
  doc.hddFreeBytes = space.freeBytes;
  TraceLog("  HDD Free Bytes     =%ld", static_cast<long>(doc.hddFreeBytes));
  TraceLog("  Rcv Total ImgBytes =%ld", static_cast<long>(doc.rcvTotalImgBytes));
  TraceFreePercent(space.freePercent);
  const int trayState = doc.hddFreeBytes < kDiskFullLimit     ? kTrayFull
                        : GetHDD() <= 100 - space.freePercent ? kTrayWarning
                                                              : kTrayNormal;
  SetTrayState(job.context->hooks(), trayState);
  if (doc.discarding || status != kStatusComplete) return;
  if (job.deferredNotify) {
    job.notifyPending = true;  // logged and announced when the printer hangs up
  } else if (extensionResult != kExtensionMarked) {
    job.context->delivery().Announce();
  }
}

void CloseDocument(ScanJob& job, const DocumentEnd& end) {
  if (!job.deferredNotify) job.document.pageCount = 0;
  Close(job, end.status, end.extensionResult);
}

// A complete document: stored, answered and announced in that order, the
// slow steps away from the event loop.
void FinishDocument(ScanJob& job) {
  Document& doc = job.document;
  const bool raw = doc.imageHeader.dataForm == kDataFormRaw;
  if (raw && !doc.fileOk) {
    AnswerDataEnd(job);
    DeleteRawPageFiles(doc);
  }
  const bool assemble = raw && doc.fileOk;
  auto end = std::make_shared<DocumentEnd>();
  ScanJob* j = &job;
  job.context->RunDocumentWork(
      job, [j, end, assemble] { StoreDocument(*j, assemble, *end); },
      [j, end] {
        AnswerStoredDocument(*j, *end);
        if (!end->deferred) {
          CloseDocument(*j, *end);
          return;
        }
        j->context->RunDocumentWork(
            *j, [j, end] { CallDeferredExtension(*j, *end); },
            [j, end] { CloseDocument(*j, *end); });
      });
}

}  // namespace

void OnDataEnd(ScanJob& job, uint8_t* body, size_t length) {
  int32_t extensionResult = 1;
  uint16_t status = BodyWord(body, length, 2);
  job.imageDataMode = false;
  Document& doc = job.document;

  if (status != kStatusComplete) {
    TraceLog(" DataEnd　is not DT_DATA_END_COMPLETE");
    AnswerDataEnd(job);
  } else if (doc.discarding) {
    DiscardDocumentFiles(doc);
    AnswerDataEnd(job);
  } else if (!doc.checksumOk && !job.deferredNotify) {
    // A printer of the second group without a confirmed checksum gets no
    // answer and no file, yet the closing steps below still announce a
    // document; this is what those printers have always seen.
    if (job.PeerClass() != kClassGroupB) {
      TraceLog(" DataEnd: check sum error!");
      DiscardDocumentFiles(doc);
      doc.discarding = true;
      AnswerDataEnd(job);
      LockClient(job.peerIp, job.context->env().WallSeconds());
    }
  } else {
    FinishDocument(job);
    return;
  }
  Close(job, status, extensionResult);
}

}  // namespace qb
