// The program's one FTP server, started and stopped by the start-up code.
#pragma once

#include "ftp/ftp_server_hooks.h"

namespace qb {

// Starts the scanner FTP server's thread on `port`; `hooks` carry what it
// tells the program.
bool StartFtpServer(int port, bool serviceMode, FtpServerHooks hooks = {});
// Ends every session and waits for the server thread.
void StopFtpServer();

}  // namespace qb
