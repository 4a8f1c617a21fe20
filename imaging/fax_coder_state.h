// State of the fax run-length coder, one per scan job.
#pragma once

#include <cstdint>

namespace qb {

struct FaxCoderState {
  int32_t placeholder = 0;  // filled in by the coder
};

}  // namespace qb
