// The storage steps at the end of a scan document, fed from the connection
// record and its document. The document keeps the parameter request's
// words by name (`para`: destination number, the sender name's offset, the
// meta data's offset) and its texts in `paraCopy`, at those offsets; a meta
// data block too long for the copy is held separately in `metaData`. Every
// offset is checked against the copy before it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scanproto/document.h"
#include "scanproto/scan_job.h"
#include "storage/stored_document.h"

namespace qb {

uint16_t DocumentDestination(const Document& doc);

// The text at the request's sender-name offset, at most `limit` bytes; ""
// when the offset is 0 or outside the copy.
std::string DocumentNameOffsetText(const Document& doc, size_t limit);

// The document's meta data record: the separately held block when there is
// one, else the record inside the parameter copy (up to the copy's end);
// empty when the document has none.
ByteBlock DocumentMetaRecord(const Document& doc);

// The job's document as the storage steps take it, with the printer's
// address. Its meta data points into the document, so it is valid only
// while the document is unchanged.
StoredDocument StoredDocumentOf(const ScanJob& job);

}  // namespace qb
