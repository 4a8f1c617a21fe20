#include "storage/delivery.h"

#include "config/settings.h"
#include "interop/window_messages.h"
#include "platform/event_loop.h"
#include "platform/trace.h"
#include "storage/extension_call.h"
#include "storage/receive_log.h"

namespace qb {

// The status the configuration program gets for a new file.
constexpr int64_t kConfigNewFile = 3;

CommitOutcome DocumentDelivery::Commit(DocumentFiles& files, bool overwrite,
                                       StoredDocument* document) const {
  CommitOutcome outcome;
  const int staged = static_cast<int>(files.Count());
  outcome.lost = files.CommitEach(overwrite, &outcome.moved);
  outcome.landed = staged - static_cast<int>(outcome.lost.size());
  for (const std::string& lost : outcome.lost) {
    TraceLog("File %s not stored: it could not be made durable under its name.", lost.c_str());
  }
  for (const auto& [chosen, taken] : outcome.moved) {
    if (document->outputPath == chosen) document->outputPath = taken;
  }
  document->fileCount = outcome.landed;
  return outcome;
}

int32_t DocumentDelivery::CallExtension(StoredDocument* document, int32_t status) const {
  qnExtParaOperation(document, &status, env_);
  return status;
}

void DocumentDelivery::Log(const StoredDocument& document, bool marked) const {
  LogStoredDocument(document, !marked, env_);
}

void DocumentDelivery::Announce() const {
  TraceLog("  New File Recieve[WM_CONNECT_MSG, WM_COMM_RCV_NEW_FILE] ");
  if (events_.notifyConfig) events_.notifyConfig(WM_USER + 1, kConfigNewFile);
  if (!GetReceive()) return;
  if (events_.receiveEndSignal) {
    events_.receiveEndSignal();
  } else if (events_.newFileNotice) {
    events_.newFileNotice();
  }
  TraceLog("  Notify Dialog Open ");
}

}  // namespace qb
