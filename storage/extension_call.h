// The per-document call of a destination's extension library.
#pragma once

#include <cstdint>

#include "scanproto/scan_job.h"

namespace qb {

// Looks up the job's destination (nothing at all happens when that fails),
// loads the extension library named there, calls its quernExtExpFunc with
// operation 2, `status`, the job's document (scanner address `peerIp`,
// StoredFileCount, `outputPath`, the meta data record, `senderName`,
// destination number) and unloads it. A library that is missing, cannot be
// loaded or lacks the export is skipped silently (the raw-data dump shows
// the attempt). The library may set *status to 4: the caller then writes
// the receive-log entry in its marked form. Afterwards a "QNN_SKAN:" meta
// data record sets the job's sender name (at most 32 bytes). The library
// runs without any lock held. Callers pass status 1 at the end of a scan
// document and 0 for each stored FTP file.
void qnExtParaOperation(ScanJob* job, int32_t* status);

}  // namespace qb
