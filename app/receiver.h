// The receiver's life: settings and folders located, the scan server
// started on an event loop, run until a termination signal or a fatal
// start failure, every connection closed on the way out.
#pragma once

#include "platform/event_loop.h"

namespace qb {

// Runs the receiver on `loop` in normal mode. Returns the process exit code.
int RunReceiver(EventLoop& loop);

}  // namespace qb
