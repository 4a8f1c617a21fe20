#include "ftp/program_ftp.h"

#include <memory>
#include <utility>

#include "config/folders.h"
#include "ftp/ftp_server_qbx.h"
#include "ftp/save_file.h"
#include "platform/file_lookup.h"
#include "platform/trace.h"

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
  // Deliberately cleaned at start (the original never did): temporary
  // files of stored files that a crash left behind are nobody's now, and
  // only this one receiver runs on the machine.
  const int removed = RemoveTempFilesWithPrefix(TempFolderPath(), kReceivedFileTempPrefix);
  if (removed > 0) TraceLog("FTP start: removed %d leftover temporary file(s).", removed);
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
