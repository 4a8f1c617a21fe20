#include "nameservice/name_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "nameservice/host_table.h"
#include "nameservice/name_datagram.h"
#include "platform/net.h"
#include "platform/profile.h"
#include "platform/trace.h"
#include "platform/udp.h"
#include "tests/unit/test_root.h"

namespace qb {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

std::vector<uint8_t> Request(uint32_t command, const std::string& name, size_t size = 296) {
  std::vector<uint8_t> datagram(296, 0);
  WriteBigEndian32(datagram.data(), command);
  WriteBigEndian32(datagram.data() + 4, 5);
  std::memcpy(datagram.data() + 8, name.data(), std::min(name.size(), size_t{288}));
  datagram.resize(size);
  return datagram;
}

struct Sent {
  uint32_t address;
  uint16_t port;
};

// The responder on a free port of this machine, its two reply ports and
// its broadcast redirected to two client sockets of the test.
class NameServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int* client : {&client_, &client2_}) {
      *client = UdpOpen();
      ASSERT_TRUE(*client >= 0 && UdpBind(*client, 0));
    }
    NameServiceOptions options;
    options.port = 0;
    options.ownName = "MyPc";
    options.now = [] { return LocalDateTime{2024, 3, 1, 8}; };
    options.redirect = [this](uint32_t* address, uint16_t* port) {
      sent_.push_back(Sent{*address, *port});
      *port = LocalPort(*port == kNameServicePort2 ? client2_ : client_);
      *address = kLoopback;
      return true;
    };
    options.faxHandOff = [this](const char* name, const char* ip) {
      handOffs_.push_back(std::string(name) + "@" + ip);
    };
    StartTraceCapture();
    ASSERT_TRUE(OpenNameService(loop_, std::move(options)));
    // The first write event announces our fax handler.
    std::vector<uint8_t> broadcast = AwaitReply(client_, kFaxHandlerAnnounce);
    EXPECT_STREQ(reinterpret_cast<const char*>(broadcast.data() + 8), "MYPC");
    EXPECT_EQ(sent_.back().address, 0xFFFFFFFFu);
    sent_.clear();
  }
  void TearDown() override {
    CloseNameService();
    StopTraceCapture();
    SockClose(client_);
    SockClose(client2_);
  }

  void Send(const std::vector<uint8_t>& datagram) {
    ASSERT_EQ(UdpSendTo(client_, datagram.data(), datagram.size(), kLoopback, NameServicePort()),
              static_cast<long>(datagram.size()));
  }
  // Runs the loop until a datagram reaches `socket`; empty after a second.
  std::vector<uint8_t> Await(int socket) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::vector<uint8_t> buffer(8192);
    while (std::chrono::steady_clock::now() < deadline) {
      loop_.RunOnce(5);
      long got = UdpReceiveFrom(socket, buffer.data(), buffer.size(), nullptr);
      if (got >= 0) {
        buffer.resize(static_cast<size_t>(got));
        return buffer;
      }
    }
    return {};
  }
  // The next datagram at `socket`, which must be a whole one of `command`.
  std::vector<uint8_t> AwaitReply(int socket, uint32_t command) {
    std::vector<uint8_t> reply = Await(socket);
    EXPECT_EQ(reply.size(), 296u);
    reply.resize(296);
    EXPECT_EQ(ReadBigEndian32(reply.data()), command);
    return reply;
  }
  // Hands `datagram` to the responder as if it came from ip:4321;
  // returns where its replies went (before redirection) and clears them.
  std::vector<Sent> Handle(const std::vector<uint8_t>& datagram, const char* ip = "10.0.0.7") {
    uint32_t address = 0;
    EXPECT_TRUE(ParseDottedAddress(ip, &address));
    HandleNameDatagram(datagram.data(), datagram.size(), address, 4321);
    std::vector<Sent> sent;
    sent.swap(sent_);
    return sent;
  }
  std::string Recorded(const char* ip) {
    char name[300];
    return LookupHostName(ip, name, sizeof name) ? name : "<none>";
  }

  test::TestRoot root_;
  EventLoop loop_{Env::Default()};
  int client_ = -1;
  int client2_ = -1;
  std::vector<Sent> sent_;
  std::vector<std::string> handOffs_;
};

TEST_F(NameServiceTest, AResolveRequestForOurNameIsAnsweredThroughTheSocket) {
  std::vector<uint8_t> request = Request(kNameResolveReq, std::string("mypc\0tail-bytes", 15));
  Send(request);
  std::vector<uint8_t> reply = AwaitReply(client_, kNameResolveRes);
  EXPECT_EQ(ReadBigEndian32(reply.data() + 4), 1u);
  // Our name and its terminator over the start of the field; the rest as sent.
  EXPECT_EQ(std::memcmp(reply.data() + 8, "MYPC\0", 5), 0);
  EXPECT_EQ(std::memcmp(reply.data() + 13, request.data() + 13, 296 - 13), 0);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].address, kLoopback);
  EXPECT_EQ(sent_[0].port, kNameServicePort);
  EXPECT_EQ(Recorded("127.0.0.1"), "MYPC");

  // The trace of a request, line by line.
  const std::vector<std::string> trace = TakeCapturedTrace();
  auto read = std::find(trace.begin(), trace.end(), " QN:FD_READ Receive");
  ASSERT_TRUE(read != trace.end());
  EXPECT_EQ(std::vector<std::string>(read + 1, trace.end()),
            (std::vector<std::string>{" QN:Receive UDP Data",
                                      "  送信元 Port番号：" + std::to_string(LocalPort(client_)),
                                      "  Data Num    :5", "  要求ホスト名 :mypc"}));
}

TEST_F(NameServiceTest, AShortDatagramReadsAsZeroPaddedAndALongOneByItsFirstBytes) {
  Send(Request(kNameNotifyReq, "", 6));  // command and half a count
  std::vector<uint8_t> reply = AwaitReply(client_, kNameNotifyRes);
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 13, reply.end()), std::vector<uint8_t>(283, 0));
  EXPECT_EQ(Recorded("127.0.0.1"), "");  // recorded under the empty name

  std::vector<uint8_t> large = Request(kNameNotifyReq, "big", 296);
  large.resize(9000, 0x41);
  Send(large);
  AwaitReply(client_, kNameNotifyRes);
  EXPECT_EQ(Recorded("127.0.0.1"), "BIG");
}

TEST_F(NameServiceTest, ResolveRequestsAreAnsweredOnlyForOurName) {
  EXPECT_TRUE(Handle(Request(kNameResolveReq, "OTHERPC")).empty());
  EXPECT_TRUE(Handle(Request(kNameResolveReq2, "OTHERPC")).empty());
  EXPECT_EQ(Recorded("10.0.0.7"), "<none>");
  // Upper-casing makes the comparison blind to case; nothing else does.
  EXPECT_TRUE(Handle(Request(kNameResolveReq, "MYPC.local")).empty());
  EXPECT_EQ(Handle(Request(kNameResolveReq, "mYpC")).size(), 1u);
}

TEST_F(NameServiceTest, NotifyRequestsAreAlwaysAnsweredAndOnlyTheFirstKindRecords) {
  std::vector<Sent> sent = Handle(Request(kNameNotifyReq, "printer-a"), "10.0.0.7");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].address, 0x0A000007u);
  EXPECT_EQ(sent[0].port, kNameServicePort);
  EXPECT_EQ(Recorded("10.0.0.7"), "PRINTER-A");

  sent = Handle(Request(kNameNotifyReq2, "printer-b"), "10.0.0.8");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].port, kNameServicePort2);
  sent = Handle(Request(kNameResolveReq2, "MYPC"), "10.0.0.8");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].port, kNameServicePort2);
  EXPECT_EQ(Recorded("10.0.0.8"), "<none>");

  AwaitReply(client2_, kNameNotifyRes2);
}

// A second boundary may fall inside a burst: at most two seconds' worth.
TEST_F(NameServiceTest, AFloodIsAnsweredOnlyWithinTheLimitsPerSenderAndInAll) {
  size_t replies = 0;
  for (int i = 0; i < 3000; ++i) replies += Handle(Request(kNameNotifyReq, "p"), "10.0.0.7").size();
  EXPECT_GE(replies, 10u);
  EXPECT_LE(replies, 20u);
  // Another sender is still heard, up to the total.
  EXPECT_EQ(Handle(Request(kNameNotifyReq, "q"), "10.0.0.8").size(), 1u);
  replies = 0;
  char ip[16];
  for (int i = 0; i < 500; ++i) {
    std::snprintf(ip, sizeof ip, "10.1.%d.%d", i / 200, i % 200 + 1);
    replies += Handle(Request(kNameNotifyReq, "r"), ip).size();
  }
  EXPECT_LE(replies, 400u);
  EXPECT_GE(replies, 180u);
}

TEST_F(NameServiceTest, ASocketFloodIsReadOnlyUpToItsBudgetEachSecond) {
  std::vector<uint8_t> request = Request(kNameResolveReq, "OTHERPC");  // never answered
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3000; ++i) {
    Send(request);
    loop_.RunOnce(0);
  }
  for (int i = 0; i < 20; ++i) loop_.RunOnce(1);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  const std::vector<std::string> lines = TakeCapturedTrace();
  const auto read = std::count(lines.begin(), lines.end(), " QN:Receive UDP Data");
  EXPECT_LE(read, 1000 * (seconds + 2));
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      " QN: more than 1000 datagrams this second, not read until the next"),
            lines.end());
}

TEST_F(NameServiceTest, ANameWithoutTerminatorEndsAtTheFieldEnd) {
  Handle(Request(kNameNotifyReq, std::string(288, 'n')));
  EXPECT_EQ(Recorded("10.0.0.7"), std::string(288, 'N'));
}

TEST_F(NameServiceTest, ForgedBroadcastOrMulticastSendersGetNoReplyAndNoEntry) {
  for (const char* forged : {"255.255.255.255", "224.0.0.251", "239.1.2.3", "0.0.0.0"}) {
    EXPECT_TRUE(Handle(Request(kNameNotifyReq, "X"), forged).empty()) << forged;
    EXPECT_EQ(Recorded(forged), "<none>") << forged;
  }
  for (uint32_t broadcast : LocalBroadcastAddresses(16)) {
    std::string ip = DottedAddress(broadcast);
    EXPECT_TRUE(Handle(Request(kNameNotifyReq, "X"), ip.c_str()).empty()) << ip;
  }
}

TEST_F(NameServiceTest, FaxHandlerAnnouncementsAreHandedOnOnlyFromOtherPcsAndWhenAskedFor) {
  EXPECT_TRUE(Handle(Request(kFaxHandlerAnnounce, "otherpc")).empty());
  EXPECT_TRUE(handOffs_.empty());  // USESMTP absent counts as 1
  root_.WriteSettings("[RCVFAX]\nUSESMTP=0\n");
  EXPECT_TRUE(Handle(Request(kFaxHandlerAnnounce, "mypc")).empty());  // our own, come back
  EXPECT_TRUE(handOffs_.empty());
  EXPECT_TRUE(Handle(Request(kFaxHandlerAnnounce, "otherpc")).empty());
  EXPECT_EQ(handOffs_, std::vector<std::string>{"OTHERPC@10.0.0.7"});
  EXPECT_EQ(Recorded("10.0.0.7"), "<none>");
}

TEST_F(NameServiceTest, AnnouncementsGoOutWhenDueAndFromAnyThreadThroughTheLoop) {
  Handle(Request(kNameNotifyReq, "p1"), "10.0.0.1");
  Handle(Request(kNameNotifyReq, "p2"), "10.0.0.2");
  // Our addresses were stored by the announcement at start: unchanged.
  EXPECT_EQ(AnnounceToHosts(), 1);
  EXPECT_TRUE(sent_.empty());

  const std::string path = HostTablePath();
  ProfileWriteString(path, "HOST", "update", "1");
  std::thread monitor([] { RequestAnnounceToHosts(); });
  monitor.join();
  std::vector<uint8_t> first = AwaitReply(client_, kNameNotifyRes);
  AwaitReply(client_, kNameNotifyRes);
  EXPECT_EQ(ReadBigEndian32(first.data() + 4), 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(first.data() + 8), "MYPC");
  ASSERT_EQ(sent_.size(), 2u);  // in list order: descending address
  EXPECT_EQ(sent_[0].address, 0x0A000002u);
  EXPECT_EQ(sent_[1].address, 0x0A000001u);
  EXPECT_EQ(ProfileGetString(path, "HOST", "update", "?"), "0");

  // A changed address list is an announcement too, and is stored.
  ProfileWriteString(path, "MYADDR", "myaddr01", "192.0.2.1");
  sent_.clear();
  EXPECT_EQ(AnnounceToHosts(), 0);
  EXPECT_EQ(sent_.size(), 2u);
  EXPECT_EQ(AnnounceToHosts(), 1);
}

TEST_F(NameServiceTest, ClosingSavesTheRecordedPrinters) {
  Handle(Request(kNameNotifyReq, "p1"), "10.0.0.1");
  CloseNameService();
  const std::string path = HostTablePath();
  EXPECT_EQ(ProfileGetString(path, "HOST", "scanner01", "?"), "20240301080000,10.0.0.1,P1");
  EXPECT_EQ(ProfileGetString(path, "HOST", "update", "?"), "1");
  EXPECT_EQ(NameServicePort(), 0);
  EXPECT_EQ(Recorded("10.0.0.1"), "<none>");
  RequestAnnounceToHosts();  // closed: nothing to post to
}

}  // namespace
}  // namespace qb
