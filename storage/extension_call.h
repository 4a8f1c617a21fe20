// The per-document call of a destination's extension library.
#pragma once

#include <cstdint>

#include "platform/env.h"
#include "storage/stored_document.h"

namespace qb {

// Looks up the document's destination (nothing at all happens when that
// fails), loads the extension library named there, calls its
// quernExtExpFunc with operation 2, `status`, the document (scanner
// address, file count, output path, meta data record, sender name,
// destination number) and unloads it. A library that is missing, cannot be
// loaded or lacks the export is skipped silently (the raw-data dump shows
// the attempt). The library may set *status to 4: the caller then writes
// the receive-log entry in its marked form. Afterwards a "QNN_SKAN:" meta
// data record sets the document's sender name (at most 32 bytes); true when
// it did. The library runs without any lock held. Callers pass status 1 at
// the end of a scan document and 0 for each stored FTP file.
bool qnExtParaOperation(StoredDocument* document, int32_t* status, Env& env);

}  // namespace qb
