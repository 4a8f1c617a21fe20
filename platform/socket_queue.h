// How much a socket holds that nobody has read yet. The in-process drivers
// use it to tell when a conversation has gone quiet.
#pragma once

namespace qb {

// Bytes waiting in the receive queue of `socket`; 0 when it cannot be asked.
int UnreadBytes(int socket);

}  // namespace qb
