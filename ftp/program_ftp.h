// The program's one FTP server, started and stopped by the start-up code.
#pragma once

namespace qb {

// Starts the server thread on `port`.
bool StartFtpServer(int port, bool serviceMode);
// Ends every session and waits for the server thread.
void StopFtpServer();

}  // namespace qb
