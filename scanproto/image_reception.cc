#include "scanproto/handlers.h"

namespace qb {

// Not answered yet: these messages get no reply until the handlers are built.
void OnImageHeader(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}
void OnPageEnd(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}
void OnDataEnd(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}
void OnPageDelete(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}
void OnImgChecksum(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}
void OnImageData(ScanJob& /*job*/, size_t /*length*/) {}

}  // namespace qb
