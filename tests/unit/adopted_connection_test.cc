// A connection handed to the server as if accepted (the entry the fuzz
// targets drive) goes through the accept path: access lock, admission by
// port, greeting, scanner list and framing, on a server without listeners.
#include <gtest/gtest.h>

#include <string>

#include "config/scanner_list.h"
#include "scanproto/access_lock.h"
#include "server_fixture.h"

namespace qb {
namespace {

class AdoptedConnectionTest : public test::ServerTest {
 protected:
  AdoptedConnectionTest() {
    settings_ = "[MANAGEMENT]\nMaxConnectNum=1\n";
    listen_ = false;
  }

  // The printer's end of a new socket pair whose other end the server adopts.
  int Adopt(uint16_t port, uint32_t peer) {
    int pair[2];
    EXPECT_TRUE(StreamSocketPair(pair, true));
    clients_.push_back(pair[0]);
    server_->AdoptConnection(pair[1], port, peer);
    Pump(5);
    return pair[0];
  }

  std::string Read(int fd) {
    char buffer[256];
    long got = SockRecv(fd, buffer, sizeof buffer);
    return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
  }
};

TEST_F(AdoptedConnectionTest, IsGreetedFramedAndListedLikeAnAcceptedOne) {
  int printer = Adopt(kJobPort, 0x7F000002);
  EXPECT_EQ(Read(printer), std::string("OK\0\x05", 4));
  ScanJob* job = server_->FirstJob();
  ASSERT_NE(job, nullptr);
  EXPECT_STREQ(job->peerIp, "127.0.0.2");
  EXPECT_EQ(job->listenPort, kJobPort);
  EXPECT_EQ(server_->JobCount(), 1);
  EXPECT_EQ(CountScannerEntries(), 1);

  // A capability request gets its reply through the same framing.
  const char request[] = {0, 6, 0x34, 0x00, 0, 1, 0, 0};
  ASSERT_EQ(SockSend(printer, request, sizeof request), static_cast<long>(sizeof request));
  Pump(5);
  std::string reply = Read(printer);
  ASSERT_GE(reply.size(), 4u);
  EXPECT_EQ(reply.substr(2, 2), std::string("\x34\x10", 2));

  CloseClient(printer);
  Pump(5);
  EXPECT_EQ(server_->FirstJob(), nullptr);
  EXPECT_EQ(server_->JobCount(), 0);
  EXPECT_EQ(CountScannerEntries(), 0);
}

TEST_F(AdoptedConnectionTest, AdmissionAndLockApplyAsAfterAccept) {
  // MaxConnectNum=1: a direct connection is not counted, the second
  // job-port connection is refused.
  EXPECT_EQ(Read(Adopt(kDirectPort, 0x7F000004)), std::string("OK\0\x05", 4));
  EXPECT_EQ(Read(Adopt(kJobPort, 0x7F000002)), std::string("OK\0\x05", 4));
  EXPECT_EQ(Read(Adopt(kJobPort, 0x7F000003)), std::string("NG\0\x15", 4));

  // A locked peer is closed at once, without a job or a greeting.
  LockClient("127.0.0.9", env_.WallSeconds());
  int locked = Adopt(kJobPort, 0x7F000009);
  char scrap;
  EXPECT_EQ(SockRecv(locked, &scrap, 1), 0);  // end of stream
  EXPECT_EQ(server_->JobCount(), 2);
}

TEST_F(AdoptedConnectionTest, AStoppedServerClosesTheSocket) {
  server_->Stop();
  int pair[2];
  ASSERT_TRUE(StreamSocketPair(pair, false));
  clients_.push_back(pair[0]);
  server_->AdoptConnection(pair[1], kJobPort, 0x7F000002);
  char scrap;
  EXPECT_EQ(SockRecv(pair[0], &scrap, 1), 0);
}

}  // namespace
}  // namespace qb
