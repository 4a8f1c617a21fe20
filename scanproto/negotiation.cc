#include "scanproto/handlers.h"

namespace qb {

// Not answered yet: these messages get no reply until the handlers are built.
void OnCap(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}
void OnCapDirect(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}
void OnPara(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}
void OnPara2(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}
void OnPara2Direct(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}

}  // namespace qb
