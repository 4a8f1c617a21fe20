// What the storage steps read from a scan job. The scan protocol keeps the
// parameter request in `paraCopy` at its request positions: destination
// number at 2, the sender name's offset at 4, the meta data's offset at 6
// (all big-endian). The FTP session fills a cleared job the same way, with
// `multiPage` 0, and hands a separately held meta data block in `metaData`
// with its size in `metaDataLength`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scanproto/scan_job.h"

namespace qb {

struct ByteBlock {
  const uint8_t* data = nullptr;
  size_t size = 0;  // bytes that really exist behind `data`
};

uint16_t JobDestinationNumber(const ScanJob& job);

// The text at the request's sender-name offset, at most `limit` bytes; ""
// when the offset is 0 or outside the copy.
std::string JobNameOffsetText(const ScanJob& job, size_t limit);

// The job's meta data record: the separately held block when there is one,
// else the record inside the parameter copy (up to the copy's end); empty
// when the job has none.
ByteBlock JobMetaRecord(const ScanJob& job);

// Files stored for the job: 1 for one multi-page file, else `pageCount`.
int32_t StoredFileCount(const ScanJob& job);

}  // namespace qb
