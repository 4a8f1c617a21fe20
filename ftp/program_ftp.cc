#include "ftp/program_ftp.h"

#include <memory>
#include <utility>

#include "ftp/ftp_server_qbx.h"

namespace qb {
namespace {

std::unique_ptr<CFtpServerQBX>& ProgramServer() {
  static std::unique_ptr<CFtpServerQBX> server;
  return server;
}

}  // namespace

bool StartFtpServer(int port, bool serviceMode, FtpServerHooks hooks) {
  auto& server = ProgramServer();
  if (server != nullptr) return true;
  server = std::make_unique<CFtpServerQBX>(std::move(hooks));
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
