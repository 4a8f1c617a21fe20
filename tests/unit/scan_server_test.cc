// The scan server in this process on a loop with a hand-moved clock;
// clients are plain sockets on loopback.
#include "scanproto/scan_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/descriptor_limit.h"
#include "platform/fault_env.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "platform/udp.h"
#include "scanproto/cipher.h"
#include "server_fixture.h"

namespace qb {
namespace {

class ScanServerTest : public test::ServerTest {
 protected:
  void SetUp() override {
    StartTraceCapture();
    ServerTest::SetUp();
  }
  void TearDown() override {
    ServerTest::TearDown();
    StopTraceCapture();
  }

  // A client that has taken its greeting.
  int Greeted(uint16_t port) {
    const int fd = OpenClient(port);
    EXPECT_EQ(Receive(fd, 4), kOk);
    return fd;
  }
  // From an address of its own for each `n`: crowds of printers.
  int ConnectAs(uint16_t port, int n) {
    char from[32];
    std::snprintf(from, sizeof from, "127.0.%d.%d", 1 + n / 250, 1 + n % 250);
    return OpenClient(port, from);
  }

  int TraceCount(const std::string& line) {
    for (std::string& text : TakeCapturedTrace()) trace_.push_back(std::move(text));
    return static_cast<int>(std::count(trace_.begin(), trace_.end(), line));
  }

  // Fills and sends a reply of `length` bytes, a pattern of `seed`; what
  // the client must read, length field included.
  std::string SendReply(ScanJob* job, size_t length, int seed) {
    for (size_t i = 0; i < length; ++i) job->txBuffer[2 + i] = static_cast<uint8_t>(i * 7 + seed);
    job->txLength = static_cast<uint16_t>(length);
    job->txState = 1;
    server_->SendPacket(*job);
    return std::string(reinterpret_cast<char*>(job->txBuffer), length + 2);
  }

  static inline const std::string kOk{"OK\0\x05", 4}, kJobLimit{"NG\0\x15", 4},
      kDiskFull{"NG\0\x01", 4};

  std::vector<std::string> trace_;
};

TEST_F(ScanServerTest, JobLimitCountsOnlyJobPortConnections) {
  Greeted(kDirectPort);
  for (int i = 0; i < 30; ++i) ASSERT_EQ(Receive(ConnectAs(kJobPort, i), 4), kOk) << i;
  // The limit applies on both ports, but only job-port connections count.
  EXPECT_EQ(Receive(OpenClient(kDirectPort), 4), kJobLimit);
  int refused = OpenClient(kJobPort);
  EXPECT_EQ(Receive(refused, 4), kJobLimit);
  EXPECT_EQ(server_->JobCount(), 31);
  EXPECT_FALSE(ClosedByServer(refused));  // a refused printer may still talk

  SockClose(clients_[1]);
  clients_.erase(clients_.begin() + 1);
  Pump();
  EXPECT_EQ(server_->JobCount(), 30);
  EXPECT_EQ(TraceCount(" Job Num=30"), 2);
}

// One address holding idle, greeted connections cannot take the jobs of
// every other printer: its fifth is refused as for too many jobs and
// closed, and takes no job.
TEST_F(ScanServerTest, AnAddressHoldsAtMostItsShareOfConnectionsOnEachPort) {
  for (int i = 0; i < 4; ++i) ASSERT_EQ(Receive(OpenClient(kJobPort, "127.0.0.5"), 4), kOk) << i;
  int fifth = OpenClient(kJobPort, "127.0.0.5");
  EXPECT_EQ(Receive(fifth, 4), kJobLimit);
  EXPECT_TRUE(ClosedByServer(fifth));
  EXPECT_EQ(server_->JobCount(), 4);
  EXPECT_EQ(Receive(OpenClient(kDirectPort, "127.0.0.5"), 4), kOk);  // a share per port
  EXPECT_EQ(Receive(OpenClient(kJobPort, "127.0.0.6"), 4), kOk);
  EXPECT_EQ(server_->JobCount(), 5);
  CloseClient(clients_[0]);
  Pump();
  EXPECT_EQ(Receive(OpenClient(kJobPort, "127.0.0.5"), 4), kOk);
}

// With the descriptor table full the waiting connection keeps the listener
// readable: the listener rests 50 ms instead of failing accept in a loop,
// and the burst is traced once.
TEST_F(ScanServerTest, AListenerRestsWhileDescriptorsRunOut) {
  const std::string traced = " accept() error:10024, waiting 50 ms between tries";
  // One accept while descriptors are plenty: the undefined-behaviour
  // sanitizer checks a handler's type once, and that first check needs a
  // descriptor of its own.
  const int first = Greeted(kJobPort);
  SockClose(first);
  clients_.erase(std::remove(clients_.begin(), clients_.end(), first), clients_.end());
  Pump();
  ASSERT_EQ(server_->JobCount(), 0);
  int waiting = TcpConnect(0x7F000001, server_->BoundPort(kJobPort), 0);
  ASSERT_GE(waiting, 0);
  clients_.push_back(waiting);
  const uint64_t limit = SoftDescriptorLimit();
  const int lowestFree = UdpOpen();
  ASSERT_GE(lowestFree, 0);
  SockClose(lowestFree);
  ASSERT_TRUE(SetSoftDescriptorLimit(static_cast<uint64_t>(lowestFree)));
  Pump(20);
  EXPECT_EQ(server_->JobCount(), 0);
  env_.AdvanceMs(50);
  Pump(20);  // tried again after the rest, failed again: still one line
  ASSERT_TRUE(SetSoftDescriptorLimit(limit));
  EXPECT_EQ(TraceCount(traced), 1);
  Pump(20);
  EXPECT_EQ(server_->JobCount(), 0);  // resting: not watched
  env_.AdvanceMs(50);
  Pump();
  EXPECT_EQ(server_->JobCount(), 1);
  EXPECT_EQ(Receive(waiting, 4), kOk);
}

TEST_F(ScanServerTest, LowDiskRefusesOnBothPortsAndTellsTheTray) {
  env_.SetFreeBytes(kDiskFloorBytes - 1);
  EXPECT_EQ(Receive(OpenClient(kJobPort), 4), kDiskFull);
  EXPECT_EQ(Receive(OpenClient(kDirectPort), 4), kDiskFull);
  EXPECT_EQ(TrayCount(3), 2);
  env_.SetFreeBytes(kDiskFloorBytes);
  EXPECT_EQ(Receive(OpenClient(kJobPort), 4), kOk);
}

TEST_F(ScanServerTest, FramingSkipsEmptyPacketsAndWaitsForWholeBodies) {
  int fd = Greeted(kJobPort);
  std::string cap = Frame(std::string("\x34\x00\x00\x01\x00\x00\x00\x00", 8));
  SendRaw(fd, std::string("\0\0\0\x02", 4));
  Pump();
  // One byte at a time, the length field included.
  for (char byte : cap) {
    SendRaw(fd, std::string(1, byte));
    Pump(1);
  }
  Pump();
  EXPECT_EQ(TraceCount("  Rcv:JCSock Packet(Length=0)"), 1);
  EXPECT_EQ(TraceCount("  Rcv:JCSock Packet(Length=2)"), 1);
  EXPECT_EQ(TraceCount(" RcvMsg:TVS_DIRECT_CAP"), 1);

  std::string largest(kMaxRxBody, '\0');
  largest[0] = '\x34';
  SendRaw(fd, Frame(largest));
  Pump(10);
  EXPECT_EQ(TraceCount(" RcvMsg:TVS_DIRECT_CAP"), 2);
  EXPECT_FALSE(ClosedByServer(fd));

  std::string tooLarge(kMaxRxBody + 1, '\0');
  SendRaw(fd, Frame(tooLarge).substr(0, 100));
  EXPECT_TRUE(ClosedByServer(fd));
  EXPECT_EQ(TraceCount(" JcSockSize=24577(24576)"), 1);
  Pump();
  EXPECT_EQ(server_->FirstJob(), nullptr);
}

TEST_F(ScanServerTest, ImageDataPhaseEndsWithTheFirstShortPacket) {
  int fd = Greeted(kJobPort);
  server_->FirstJob()->imageDataMode = true;
  SendRaw(fd, Frame(std::string("\x30\x02\x00\x00\x00", 5)));  // data, whatever it starts with
  Pump();
  EXPECT_EQ(TraceCount(" RcvMsg:TVS_PAGE_END"), 0);
  SendRaw(fd, Frame(std::string("\x30\x02\x00\x00", 4)));
  Pump();
  EXPECT_EQ(TraceCount("   ImgDataEnd Flag"), 1);
  EXPECT_EQ(TraceCount(" RcvMsg:TVS_PAGE_END"), 1);
  EXPECT_FALSE(server_->FirstJob()->imageDataMode);
}

TEST_F(ScanServerTest, DirectPortBodiesAreDecipheredAndUnknownCodesTraced) {
  int fd = Greeted(kDirectPort);
  uint8_t unknown[4] = {0x30, 0x01, 0, 0};
  CipherBody("0-127.0.0.1-0", unknown, sizeof unknown, kEncipher);
  SendRaw(fd, Frame(std::string(reinterpret_cast<char*>(unknown), sizeof unknown)));
  Pump(5);
  EXPECT_EQ(TraceCount(" RcvMsg:Unknown Message(3001)"), 1);
  EXPECT_EQ(Receive(fd, 1), "");  // nothing is answered
  uint8_t cap[8] = {0x34, 0x00, 0, 1, 0, 0, 0, 0};
  CipherBody("0-127.0.0.1-0", cap, sizeof cap, kEncipher);
  SendRaw(fd, Frame(std::string(reinterpret_cast<char*>(cap), sizeof cap)));
  Pump(5);
  EXPECT_EQ(TraceCount(" RcvMsg:TVS_DIRECT_CAP"), 1);

  int job = Greeted(kJobPort);
  SendRaw(job, Frame(std::string("\x38\x00\x00\x00", 4)));
  Pump();
  EXPECT_EQ(TraceCount(" RcvMsg:Unknown Message(3800)"), 0);
  EXPECT_EQ(TraceCount(" RcvMsg:TVS_DIRECT_DIR_NAME"), 0);
}

TEST_F(ScanServerTest, PartlySentReplyIsCompletedWithoutLossOrRepeat) {
  int fd = Greeted(kJobPort);
  ScanJob* job = server_->FirstJob();
  SetSendBufferSize(job->socket, 4096);
  // The client reads nothing until the socket no longer takes a whole reply.
  std::string expected;
  bool partial = false;
  for (int k = 0; k < 500 && !partial; ++k) {
    expected += SendReply(job, kMaxTxBody, k);
    partial = job->txState != 2;
  }
  ASSERT_TRUE(partial);

  std::string got = Receive(fd, expected.size());
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(job->txState, 2);
  EXPECT_EQ(job->txCount, 0u);
  EXPECT_GE(TraceCount(" Resend") + TraceCount(" Data Send Would Block"), 1);
  EXPECT_EQ(Receive(fd, 1), "");  // and nothing more
}

// The kernel may take only part of a send without "would block"; the rest
// must still follow, once, and the next (shorter) reply must arrive exactly
// as written, with nothing from outside it.
TEST_F(ScanServerTest, ShortSendIsFinishedAndTheNextReplyIsIntact) {
  int fd = Greeted(kJobPort);
  ScanJob* job = server_->FirstJob();
  env_.LimitSends(4096);
  std::string listing = SendReply(job, 26221, 1);
  std::string got = Receive(fd, listing.size());
  std::string next = SendReply(job, 300, 9);
  std::string after = Receive(fd, next.size());
  env_.LimitSends(0);
  ASSERT_EQ(got.size(), listing.size());
  EXPECT_TRUE(got == listing);
  EXPECT_TRUE(after == next);
  EXPECT_EQ(Receive(fd, 1), "");
}

// Connections that time out in the same second all close in that second's
// pass (closing one does not end the pass); one that talks stays.
TEST_F(ScanServerTest, IdleConnectionsCloseAfter240Seconds) {
  const int quiet[3] = {Greeted(kJobPort), Greeted(kJobPort), Greeted(kJobPort)};
  int talkative = Greeted(kJobPort);
  for (int second = 1; second <= 480; ++second) {
    if (second % 200 == 0) SendRaw(talkative, std::string("\0\0", 2));
    env_.AdvanceMs(1000);
    loop_.RunOnce(0);
    if (second == 240) {
      ASSERT_EQ(server_->JobCount(), 4) << "closed too early";
    }
    if (second == 241) {
      EXPECT_EQ(server_->JobCount(), 1);
    }
  }
  for (int fd : quiet) EXPECT_TRUE(ClosedByServer(fd));
  EXPECT_FALSE(ClosedByServer(talkative));
  EXPECT_EQ(TraceCount(" TVS_CON_TIME_OUT"), 3);
}

TEST_F(ScanServerTest, The111thConnectionIsClosedWithoutGreeting) {
  for (int i = 0; i < kConnectionSlots; ++i) ASSERT_EQ(Receive(ConnectAs(kDirectPort, i), 4), kOk);
  int extra = OpenClient(kDirectPort);
  EXPECT_TRUE(ClosedByServer(extra));
  EXPECT_EQ(server_->JobCount(), 0);
}

// Servers side by side in one process (tests, fuzz drivers) each keep their
// own table, counts and hooks, and stopping one leaves the other serving.
TEST_F(ScanServerTest, ServersSideBySideKeepTheirConnectionsApart) {
  int otherOpened = 0;
  ReceiverEvents hooks;
  hooks.connectionOpened = [&otherOpened] { ++otherOpened; };
  ScanServer other(loop_, env_, std::move(hooks), RunDocumentWorkInline);
  ASSERT_TRUE(other.Start(true, ListenPorts{0, 0}));
  ASSERT_NE(other.BoundPort(kJobPort), server_->BoundPort(kJobPort));

  int mine = Greeted(kJobPort);
  EXPECT_EQ(otherOpened, 0);
  int theirs = TcpConnect(0x7F000001, other.BoundPort(kJobPort), 0);
  ASSERT_GE(theirs, 0);
  clients_.push_back(theirs);
  ASSERT_EQ(Receive(theirs, 4), kOk);
  EXPECT_EQ(otherOpened, 1);

  EXPECT_EQ(server_->JobCount(), 1);
  EXPECT_EQ(other.JobCount(), 1);
  ScanJob* myJob = server_->FirstJob();
  ScanJob* theirJob = other.FirstJob();
  ASSERT_NE(myJob, nullptr);
  ASSERT_NE(theirJob, nullptr);
  EXPECT_NE(myJob, theirJob);
  EXPECT_EQ(server_->NextJob(myJob), nullptr);
  EXPECT_EQ(server_->FindJob(theirJob->socket), nullptr);
  EXPECT_EQ(myJob->context, server_.get());
  EXPECT_EQ(theirJob->context, &other);

  // Each answers on its own connection.
  SendRaw(theirs, Frame(std::string("\x34\x00\x00\x01\x00\x00", 6)));
  EXPECT_EQ(Receive(theirs, 4).substr(2, 2), std::string("\x34\x10", 2));
  EXPECT_EQ(Receive(mine, 1), "");

  other.Stop();
  EXPECT_TRUE(ClosedByServer(theirs));
  EXPECT_EQ(server_->JobCount(), 1);
  EXPECT_FALSE(ClosedByServer(mine));
}

}  // namespace
}  // namespace qb
