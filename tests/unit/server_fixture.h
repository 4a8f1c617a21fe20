// The scan server in this process, on a loop with a hand-moved clock and a
// disk that is never full (until a test says otherwise); printers are plain
// sockets on loopback. Every in-process server test builds on this one.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/event_loop.h"
#include "platform/fault_env.h"
#include "platform/net.h"
#include "scanproto/scan_server.h"
#include "test_root.h"

namespace qb::test {

// 127.0.0.1 is the PC itself (class 1); other 127.x addresses cannot be
// classified and are let through (class 99).
constexpr char kPrinterIp[] = "127.0.0.2";
constexpr char kSelfIp[] = "127.0.0.1";

class ServerTest : public ::testing::Test {
 protected:
  // Writes `settings_` and starts the server on ports the system picks.
  void SetUp() override;
  // Closes the clients, stops the server, forgets the locks.
  void TearDown() override;

  // (Re)places the server, its document work run by `runner`.
  void StartServer(DocumentWorkRunner runner);
  void Pump(int rounds = 3);
  // A client of the listener of `role` (kJobPort or kDirectPort) from the
  // loopback address `from` (null: any); closed at the end of the test.
  int OpenClient(uint16_t role, const char* from = nullptr);
  // Closes a client before the end of the test.
  void CloseClient(int fd);
  void SendRaw(int fd, const std::string& bytes);
  // A body with its 2-byte length field.
  static std::string Frame(const std::string& body);
  // n bytes, running the server between waits; shorter when the peer closed
  // or nothing came for `idleLimit` waits of a millisecond.
  std::string Receive(int fd, size_t n, int idleLimit = 200);
  // Everything that arrives within a short wait.
  std::string ReceiveAll(int fd) { return Receive(fd, SIZE_MAX, 20); }
  // True when the server has closed or shut down the connection.
  bool ClosedByServer(int fd);
  int TrayCount(int state) const;

  // Set before SetUp (in a constructor) to change them.
  std::string settings_ = "[MANAGEMENT]\n";
  // False: a document's slow steps run on the server's worker pool, as in
  // the program; true: within the handling of the packet that starts them.
  bool inlineDocumentWork_ = true;
  // False: no listeners; connections come only through AdoptConnection.
  bool listen_ = true;

  TestRoot root_;
  FaultEnv env_;
  EventLoop loop_{env_};
  std::unique_ptr<ScanServer> server_;
  // What the server told the program.
  std::vector<int> trayStates_;
  int newFileNotices_ = 0;
  std::vector<std::pair<uint32_t, int64_t>> notices_;
  std::vector<int> clients_;
};

}  // namespace qb::test
