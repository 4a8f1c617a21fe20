// Whether a numeric password opens any destination: the test by which a
// wrong access code already counts as a failed login at PASS.
#pragma once

#include "platform/env.h"

namespace qb {

// True when some destination of the list has `code` as its access code,
// or has none (then any code opens it). False with no list.
bool AccessCodeOpensAny(const char* code, Env& env);

}  // namespace qb
