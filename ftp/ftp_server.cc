#include "ftp/ftp_server.h"

#include "platform/trace.h"

namespace qb {

// The FTP server is not built yet; starting it only says so.
bool StartFtpServer(int port, bool /*serviceMode*/) {
  TraceLog(" FTP server on port %d is not built yet", port);
  return false;
}

void StopFtpServer() {}

}  // namespace qb
