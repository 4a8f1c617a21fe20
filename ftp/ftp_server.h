// The FTP / FTPS server of the receiver.
#pragma once

namespace qb {

// Starts the FTP server thread on `port`; false when it cannot be started.
bool StartFtpServer(int port, bool serviceMode);
// Stops the server and waits for its threads.
void StopFtpServer();

}  // namespace qb
