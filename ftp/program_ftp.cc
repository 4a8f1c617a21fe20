#include "ftp/program_ftp.h"

#include <memory>

#include "ftp/ftp_server.h"

namespace qb {
namespace {

std::unique_ptr<CFtpServer>& ProgramServer() {
  static std::unique_ptr<CFtpServer> server;
  return server;
}

}  // namespace

bool StartFtpServer(int port, bool serviceMode) {
  auto& server = ProgramServer();
  if (server != nullptr) return true;
  server = std::make_unique<CFtpServer>();
  server->setPort(port);
  return server->start(serviceMode ? 1 : 0);
}

void StopFtpServer() {
  auto& server = ProgramServer();
  if (server == nullptr) return;
  server->stop();
  server.reset();
}

}  // namespace qb
