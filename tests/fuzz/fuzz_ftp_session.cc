// FTP conversations: the input is what a client sends on the control
// connection, followed by QUIT. It goes through the real server (line
// reader, command table, argument and PORT parsing, login gate, data
// connections) on a port the system picked. The parsers are also called
// directly on the input, with their invariants checked.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "config/folders.h"
#include "ftp/ftp_commands.h"
#include "fuzz_root.h"
#include "platform/net.h"
#include "tests/ftp/test_server.h"

namespace {

struct Fixture {
  qb::fuzz::FuzzRoot root{"[MANAGEMENT]\nFTP_Support=1\nFTPS_Support=0\nFTP_SocketTimeOut=30\n"};
  std::unique_ptr<qb::test::TestFtpServer> server;
  uint16_t port = 0;
  uint32_t nextSource = 0;

  Fixture() {
    qb::InitTempFolder();
    server = std::make_unique<qb::test::TestFtpServer>(root.Destination(1), qb::Env::Default());
    server->SetHeartbeatMs(20);
    server->SetPort(0);
    server->Start(0);
    port = server->WaitUntilListening(10000);
    if (port == 0) std::abort();
  }
};

Fixture& Get() {
  static Fixture fixture;
  return fixture;
}

void CheckParsers(const std::string& text) {
  const std::string line = text.substr(0, text.find_first_of("\r\n"));
  const qb::FtpCommand command = qb::LookUpCommand(line.c_str());
  if (command != qb::FtpCommand::kNone && line.size() < 3) std::abort();
  const std::string argument = qb::CommandArgument(line.c_str());
  if (argument.size() > line.size()) std::abort();
  qb::PortTarget target;
  if (qb::ParsePortArgument(line.c_str(), &target) && std::strchr(line.c_str(), ',') == nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& fixture = Get();
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckParsers(text);

  // A source address of its own for every conversation: the server admits
  // two sessions per address.
  const uint32_t source = 0x7F000002 + (fixture.nextSource++ % 60000);
  const int socket = qb::TcpConnect(0x7F000001, fixture.port, source);
  if (socket < 0) return 0;
  qb::SetBlocking(socket, true);
  const std::string conversation = text + "\r\nQUIT\r\n";
  qb::SockSend(socket, conversation.data(), conversation.size());
  // Read until the server hangs up (QUIT, or a line it refuses).
  char reply[4096];
  while (qb::WaitReadable(socket, 10000) && qb::SockRecv(socket, reply, sizeof reply) > 0) {
  }
  qb::SockClose(socket);
  fixture.root.ClearDocuments();
  return 0;
}
