// Message handlers of the scan protocol. Each gets the job, the message
// body (starting with its code, in network order) and the number of body
// bytes received; a handler reads nothing past `length`.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scanproto/scan_job.h"

namespace qb {

// Capability and parameter negotiation.
void OnCap(ScanJob& job, uint8_t* body, size_t length);
void OnCapDirect(ScanJob& job, uint8_t* body, size_t length);
void OnPara(ScanJob& job, uint8_t* body, size_t length);
void OnPara2(ScanJob& job, uint8_t* body, size_t length);
void OnPara2Direct(ScanJob& job, uint8_t* body, size_t length);

// Image reception and document completion.
void OnImageHeader(ScanJob& job, uint8_t* body, size_t length);
void OnPageEnd(ScanJob& job, uint8_t* body, size_t length);
void OnDataEnd(ScanJob& job, uint8_t* body, size_t length);
void OnPageDelete(ScanJob& job, uint8_t* body, size_t length);
void OnImgChecksum(ScanJob& job, uint8_t* body, size_t length);
// A data packet of `length` bytes.
void OnImageData(ScanJob& job, uint8_t* data, size_t length);
// The counting and free-space check of one page-data packet, done on the
// loop; false when it is not to be stored (the job was cancelled).
bool AcceptImageData(ScanJob& job, size_t length);
// Codes the raw page-data packets framed in [begin, end) (length field,
// body, ...), each accepted before; runs on a worker while the job is held.
void CodeImageRun(Document& doc, uint8_t* begin, uint8_t* end);

// Destination folder browsing.
void OnDirName(ScanJob& job, uint8_t* body, size_t length);
void OnDirList(ScanJob& job, uint8_t* body, size_t length);

}  // namespace qb
