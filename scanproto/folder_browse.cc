#include "scanproto/handlers.h"

namespace qb {

// Not answered yet: these messages get no reply until the handlers are built.
void OnDirName(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}
void OnDirList(ScanJob& /*job*/, uint8_t* /*body*/, size_t /*length*/) {}

}  // namespace qb
