// The FTP transport targets' link: the server end of a socket pair in a
// FtpSocket, the client end (the printer's side) with room for a whole
// input, so that a target can send everything before the server reads.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "ftp/ftp_socket.h"
#include "platform/net.h"

namespace qb::fuzz {

// Attaches the server end to `socket`; returns the client end.
inline int AttachClientEnd(FtpSocket& socket) {
  int ends[2];
  if (!StreamSocketPair(ends, false)) std::abort();
  SetSendBufferSize(ends[1], 1 << 20);
  socket.Attach(ends[0]);
  return ends[1];
}

inline bool SendAll(int socket, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    long put = SockSend(socket, data + done, size - done);
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

}  // namespace qb::fuzz
