// The end of every received document, whichever way it came in: its staged
// files committed (each on its own, durable before anything tells of them),
// the receive-log line, the announcement and the destination's extension
// library. The scan protocol runs these steps on the worker pool, an FTP
// session on its own thread; never on the event loop, since a commit waits
// for the disk and the extension library for whatever it does.
//
// One failure rule for both: a file whose commit fails is not logged, not
// announced and its staging file is removed; the log line counts the files
// that landed; a document none of whose files landed is neither logged nor
// announced, and its sender is told so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"
#include "storage/document_files.h"
#include "storage/receiver_events.h"
#include "storage/stored_document.h"

namespace qb {

// The extension library's answer that marks the document in the log and
// keeps it from being announced.
constexpr int32_t kExtensionMarked = 4;

struct CommitOutcome {
  int landed = 0;
  // Final paths of the files that did not land.
  std::vector<std::string> lost;
  // (chosen, taken) for each file that had to move to a free name because
  // its name was taken while the document arrived.
  std::vector<std::pair<std::string, std::string>> moved;
  bool AllLanded() const { return lost.empty(); }
};

class DocumentDelivery {
 public:
  DocumentDelivery(Env& env, const ReceiverEvents& events) : env_(env), events_(events) {}

  // Commits every staged file of `files` on its own. `document->outputPath`
  // follows its file when that moved, and `fileCount` becomes the number of
  // files that landed.
  CommitOutcome Commit(DocumentFiles& files, bool overwrite, StoredDocument* document) const;
  // Calls the destination's extension library with `status`; a sender name
  // from the meta data record is written into `document`. Returns the
  // library's status (kExtensionMarked: log marked, no announcement).
  int32_t CallExtension(StoredDocument* document, int32_t status) const;
  // The receive-log line; `marked` for the extension library's mark.
  void Log(const StoredDocument& document, bool marked) const;
  // Tells the configuration program and, when the setting Receive asks for
  // it, the user that a document arrived.
  void Announce() const;

 private:
  Env& env_;
  const ReceiverEvents& events_;
};

}  // namespace qb
