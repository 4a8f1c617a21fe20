// Waiting on several descriptors at once (a listener and the signals that
// end the wait).
#pragma once

namespace qb {

// Waits until one of `descriptors` is readable or timeoutMs passed (-1: no
// limit); the index of the first readable one, or -1 on time-out.
int WaitAnyReadable(const int* descriptors, int count, int timeoutMs);

}  // namespace qb
