// Runs the FTP engine with a test login for outside clients (curl, lftp,
// Python's ftplib): quillbox's FTP road without its scanner session.
// Usage: qb_ftp_test_server FOLDER [PORT]. Settings come from the machine
// root in QUILLBOX_ROOT as for the receiver (FTP_Support, FTPS_Support,
// SSL_PrivateKey, ...). Prints "port N" once listening; ends on a line
// "stop" or the end of standard input.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "config/folders.h"
#include "platform/tls.h"
#include "tests/ftp/test_server.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qb_ftp_test_server FOLDER [PORT]\n");
    return 2;
  }
  qb::LocateSettingsFile(qb::Env::Default());
  qb::InitTempFolder();
  qb::InitTlsLibrary();
  qb::test::TestFtpServer server(argv[1], qb::Env::Default());
  server.setPort(argc > 2 ? std::atoi(argv[2]) : 0);
  server.start(0);
  const uint16_t port = server.WaitUntilListening(10000);
  if (port == 0) {
    std::fprintf(stderr, "qb_ftp_test_server: cannot listen\n");
    return 1;
  }
  std::printf("port %u\n", port);
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line) && line != "stop") {
  }
  server.stop();
  return 0;
}
