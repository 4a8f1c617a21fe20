// The engine's command loop, login gate, data connections and admission,
// driven over real sockets on ports the system picks.
#include <gtest/gtest.h>

#include "platform/process_stats.h"
#include "tests/ftp/test_server.h"

namespace qb::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class FtpEngineTest : public ::testing::Test, protected FtpTestBed {
 protected:
  void StartServer(const std::string& settings = "", bool manualClock = false) {
    Prepare(settings, manualClock);
    folder_ = root_.path() + "/received";
    std::filesystem::create_directories(folder_);
    server_ = std::make_unique<TestFtpServer>(folder_, *env_);
    ASSERT_NE(Listen(*server_), 0);
  }
  std::unique_ptr<FtpLineClient> LoggedIn(uint32_t from = 0) {
    auto client = Connect(from);
    EXPECT_TRUE(client->LogIn());
    return client;
  }
  // Connects a data socket to the port of a PASV reply.
  int OpenPassive(FtpLineClient& client) {
    const uint16_t port = PassivePort(client.Command("PASV"));
    EXPECT_GE(port, 9822);
    EXPECT_LE(port, 10821);
    return client.ConnectData(port);
  }
  // PASV and a STOR whose data connection never comes: the transfer waits.
  static void StoreWaiting(FtpLineClient& client, const std::string& name) {
    PassivePort(client.Command("PASV"));
    client.Send("STOR " + name);
    EXPECT_EQ(client.Reply(), "150 Opening ASCII mode data connection for " + name + ".");
  }

  std::string folder_;
  std::unique_ptr<TestFtpServer> server_;
};

TEST_F(FtpEngineTest, CommandTableAndLoginGate) {
  StartServer();
  auto client = Connect();
  EXPECT_EQ(client->Reply(), kGreeting);
  // Commands match by prefix ("userx"); AUTH fails without a TLS context.
  EXPECT_EQ(WrongReplies(*client,
                         {{"", "500 '': command not understood."},
                          {"HELP", "500 'HELP': command not understood."},
                          {"SITE CHMOD 777 x", "500 'SITE': command not understood."},
                          {"NOOP", "530 Please login with USER and PASS."},
                          {"PASS secret", "503 Login with USER first."},
                          {"USER", "331 Password required for noname."},
                          {"USER 0123456789012345678901234567890123456789",
                           "331 Password required for 01234567890123456789012345678901."},
                          {"USER a;b", "331 Password required for a_b."},
                          {"userx   tester", "331 Password required for tester."},
                          {"pass secret", "230 User tester logged in."},
                          {"USER other", "530 Already logged in."},
                          {"PWD", "257 \"/\" is current directory"}, {"CWD /", kCwdOk},
                          {"CDUP", kDenied}, {"CWD", kUnknown}, {"TYPE i", "200 Type set 'I'"},
                          {"TYPE E", kUnknown}, {"TYPE", kUnknown},
                          {"LIST", "226 data connection close."}, {"MKD x", kDenied},
                          {"RNFR x", kDenied}, {"DELE x", "250 DELE command successful."},
                          {"AUTH TLS", kUnknown}, {"PBSZ 0", kUnknown}, {"CCC", kUnknown},
                          {"FEAT", "211-Features:"}}),
            "");
  EXPECT_EQ(client->Reply(), "211 End");
  EXPECT_EQ(client->Command("QUIT"), "221 Goodbye.");
  EXPECT_EQ(client->Reply(), "<closed>");
}

TEST_F(FtpEngineTest, RefusedOrOverlongPasswordEndsTheSession) {
  StartServer();
  // The right password padded to 50 characters is refused too.
  for (const std::string& password : {std::string("nope"), "secret" + std::string(44, 'x')}) {
    auto wrong = Connect();
    wrong->Reply();
    wrong->Command("USER tester");
    EXPECT_EQ(wrong->Command("PASS " + password), "530 Login incorrect.");
    EXPECT_EQ(wrong->Reply(), "<closed>");
  }
}

TEST_F(FtpEngineTest, OverlongArgumentsAndLinesEndTheSessionWithoutReply) {
  StartServer();
  auto argument = LoggedIn();
  EXPECT_EQ(argument->Command("CWD " + std::string(255, 'a')), kDenied);
  EXPECT_EQ(argument->Command("CWD " + std::string(256, 'a')), "<closed>");

  auto line = LoggedIn();
  line->SendRaw(std::string(30000, 'N'));  // no line end within the buffer
  EXPECT_EQ(line->Reply(), "<closed>");

  // A NUL inside a line ends the command text there.
  auto nul = LoggedIn();
  EXPECT_EQ(nul->Command(std::string("NOOP\0junk", 9)), "200 NOOP command successful.");
}

TEST_F(FtpEngineTest, PortAcceptsOnlySixOctetsPointingAtTheClient) {
  StartServer();
  auto client = LoggedIn();
  for (const char* port : {"127,0,0,1,39", "127,0,0,1,39,1,7", "127,0,0,256,39,1", "127,0,0,1,x,1"}) {
    EXPECT_EQ(client->Command(std::string("PORT ") + port), kUnknown) << port;
  }

  // No bounce: a listener on another address hears nothing.
  const int other = TcpListen(0, 4);
  ASSERT_GE(other, 0);
  const uint16_t otherPort = LocalPort(other);
  char line[64];
  std::snprintf(line, sizeof line, "PORT 127,0,0,2,%d,%d", otherPort / 256, otherPort % 256);
  EXPECT_EQ(client->Command(line), kUnknown);
  EXPECT_FALSE(WaitReadable(other, 200));

  // The client's own address is connected to, and a STOR over it lands.
  std::snprintf(line, sizeof line, "PORT 127,0,0,1,%d,%d", otherPort / 256, otherPort % 256);
  EXPECT_EQ(client->Command(line), "200 PORT command successful.");
  Ipv4Peer peer;
  const int data = TcpAccept(other, &peer);
  ASSERT_GE(data, 0);
  client->Send("STOR active.bin");
  EXPECT_EQ(client->Reply(), "150 Opening ASCII mode data connection for active.bin.");
  SetBlocking(data, true);
  SockSend(data, "hello", 5);
  SockClose(data);
  EXPECT_EQ(client->Reply(), kStored);
  EXPECT_EQ(client->Command("QUIT"), "221 Goodbye.");
  EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(folder_ + "/active.bin") == "hello"; }));
  SockClose(other);
}

// Only the client itself may deliver into its passive port, and one
// address holds at most two passive ports.
TEST_F(FtpEngineTest, PassivePortsServeOnlyTheClientAndAreBoundedPerAddress) {
  StartServer();
  auto client = LoggedIn(kLoopback + 1);
  const uint16_t port = PassivePort(client->Command("PASV"));
  EXPECT_EQ(client->Command("STOR mine.bin"),
            "150 Opening ASCII mode data connection for mine.bin.");
  const int thief = client->ConnectData(port, kLoopback + 2);
  SockSend(thief, "not from the printer", 20);
  char byte;
  EXPECT_TRUE(WaitReadable(thief, 2000));
  EXPECT_LE(SockRecv(thief, &byte, 1), 0);  // closed at once
  SockClose(thief);
  const int data = client->ConnectData(port);
  SetBlocking(data, true);
  SockSend(data, "mine", 4);
  SockClose(data);
  EXPECT_EQ(client->Reply(), kStored);

  StoreWaiting(*client, "waiting.bin");  // its transfer keeps the port
  EXPECT_NE(PassivePort(client->Command("PASV")), 0);
  auto second = LoggedIn(kLoopback + 1);
  EXPECT_EQ(second->Command("PASV"), kUnknown);
  auto other = LoggedIn(kLoopback + 2);
  EXPECT_NE(PassivePort(other->Command("PASV")), 0);
}

TEST_F(FtpEngineTest, StoredFilesAreKeptUntilTheSessionEndsAndNoTemporaryFileStays) {
  StartServer();
  auto client = LoggedIn();
  std::string content(100000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
  for (const char* name : {"one.tif", "two.tif"}) {
    EXPECT_EQ(Store(*client, name, content), kStored);
  }
  // Not saved before the session ends.
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/one.tif"));
  EXPECT_EQ(LeftoverFiles(), 2);
  // An empty STOR is received but never saved.
  EXPECT_EQ(Store(*client, "empty.tif", ""), kStored);
  client->Close();  // a dropped session hands its files over as well

  EXPECT_TRUE(WaitUntil([&] { return server_->sessionsEnded() == 1; }));
  EXPECT_EQ(ReadWholeFile(folder_ + "/one.tif"), content);
  EXPECT_EQ(ReadWholeFile(folder_ + "/two.tif"), content);
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/empty.tif"));
  EXPECT_EQ(LeftoverFiles(), 0);
}

TEST_F(FtpEngineTest, TransferRepliesNeverOvertakeTheSessionsOwn) {
  StartServer();
  auto client = LoggedIn();
  for (int i = 0; i < 20; ++i) {
    const int data = OpenPassive(*client);
    SetBlocking(data, true);
    // The data is complete before the command is even sent.
    SockSend(data, "abc", 3);
    SockClose(data);
    client->Send("STOR quick.bin");
    EXPECT_EQ(client->Reply(), "150 Opening ASCII mode data connection for quick.bin.");
    EXPECT_EQ(client->Reply(), kStored);
  }
}

TEST_F(FtpEngineTest, AbortEndsAWaitingTransferAndListingsAreEmptyEachOnItsOwnPasv) {
  StartServer();
  auto client = LoggedIn();
  StoreWaiting(*client, "never.bin");
  client->Send("ABOR");
  EXPECT_EQ(client->Reply(), "426 Transfer abort.");
  EXPECT_EQ(client->Reply(), "250 ABOR command successful.");

  // PASV at once after 226: the listener it makes is still there for the
  // next transfer.
  for (int round = 0; round < 10; ++round) {
    const int data = OpenPassive(*client);
    ASSERT_GE(data, 0);
    client->Send(round % 2 == 0 ? "LIST" : "NLST");
    EXPECT_EQ(client->Reply(), "150 Opening ASCII mode data connection for ls.");
    EXPECT_EQ(client->Reply(), kStored);
    char byte;
    if (round < 2) {
      EXPECT_TRUE(WaitReadable(data, 2000));
      EXPECT_EQ(SockRecv(data, &byte, 1), 0);  // closed without a byte
    }
    SockClose(data);
  }
  EXPECT_EQ(client->Command("LIST"), "226 data connection close.");  // no PASV, no transfer
  SockClose(OpenPassive(*client));
  EXPECT_EQ(client->Command("RETR scan.pdf"), "550 scan.pdf: No such file or directory.");
}

TEST_F(FtpEngineTest, AFailedStoreEndsTheSessionAtTheNextBeat) {
  StartServer();
  auto client = LoggedIn();
  const int data = OpenPassive(*client);
  env_->FailWrite(1);  // the disk is full
  client->Send("STOR full.bin");
  EXPECT_EQ(client->Reply(), "150 Opening ASCII mode data connection for full.bin.");
  SetBlocking(data, true);
  SockSend(data, "abc", 3);
  EXPECT_EQ(client->Reply(), "426 Transfer abort.");
  EXPECT_EQ(client->Reply(2000), "<closed>");
  SockClose(data);
  EXPECT_TRUE(WaitUntil([&] { return LeftoverFiles() == 0; }));
}

TEST_F(FtpEngineTest, IdleLimitEndsTheSessionOnTheMovableClock) {
  StartServer("", /*manualClock=*/true);
  // The session measures its wait when it starts waiting: give it the
  // moment to start before the clock jumps.
  auto settle = [] { std::this_thread::sleep_for(milliseconds(200)); };
  auto client = LoggedIn();
  settle();
  env_->AdvanceSeconds(29);
  EXPECT_EQ(client->Reply(300), "");  // still open
  EXPECT_EQ(client->Command("NOOP"), "200 NOOP command successful.");
  settle();
  env_->AdvanceSeconds(31);
  EXPECT_EQ(client->Reply(5000), "<closed>");

  // A data connection that never comes is given up at the idle limit
  // with 425; the session itself goes on.
  auto waiting = LoggedIn();
  StoreWaiting(*waiting, "slow.bin");
  settle();
  env_->AdvanceSeconds(20);
  EXPECT_EQ(waiting->Reply(300), "");
  env_->AdvanceSeconds(15);
  EXPECT_EQ(waiting->Reply(5000), "425 Can't open data connection.");
  EXPECT_EQ(waiting->Command("NOOP"), "200 NOOP command successful.");
}

TEST_F(FtpEngineTest, AdmissionAllowsTwoSessionsPerAddress) {
  StartServer();
  auto first = Connect();
  auto second = Connect();
  EXPECT_EQ(first->Reply(), kGreeting);
  EXPECT_EQ(second->Reply(), kGreeting);
  auto third = Connect();
  EXPECT_EQ(third->Reply(), "<closed>");
  auto elsewhere = Connect(0x7F000002);
  EXPECT_EQ(elsewhere->Reply(), kGreeting);
  EXPECT_EQ(server_->SessionCount(), 3);
  // A session that has answered QUIT no longer counts, however long its
  // last steps take: its client may connect again at once.
  server_->HoldSessionEnds(true);
  EXPECT_EQ(first->Command("QUIT"), "221 Goodbye.");
  auto again = Connect();
  EXPECT_EQ(again->Reply(), kGreeting);
  EXPECT_EQ(server_->SessionCount(), 4);
  server_->HoldSessionEnds(false);
  EXPECT_TRUE(WaitUntil([&] { return server_->SessionCount() == 3; }));
}

// Sessions that end in every way (QUIT, refused, dropped, silent, idle and
// the server's stop) leave no thread, descriptor or temporary file behind.
TEST_F(FtpEngineTest, ThousandSessionsLeaveNothingBehind) {
  StartServer("", /*manualClock=*/true);
  const int threadsBefore = CountThreads();
  const int descriptorsBefore = CountOpenDescriptors();
  // Sessions end on their own threads a moment later: each round comes from
  // addresses of its own, so the per-address limit never refuses it.
  uint32_t from = 0x7F010000;
  for (int i = 0; i < 225; ++i, from += 4) {
    auto quitting = LoggedIn(from);
    Store(*quitting, "f.bin", "abc");
    quitting->Command("QUIT");
    quitting->Reply();

    auto dropped = LoggedIn(from + 1);
    StoreWaiting(*dropped, "g.bin");  // its transfer waits when the client goes
    dropped->Close();

    auto refused = Connect(from + 2);
    refused->Reply();
    refused->Command("USER tester");
    refused->Command("PASS wrong");
    refused->Reply();

    auto silent = Connect(from + 3);
    silent->Close();
  }
  EXPECT_TRUE(WaitUntil([&] { return server_->SessionCount() == 0; }, 20000));

  // A hundred left idle past the limit, one with a file stored.
  std::vector<std::unique_ptr<FtpLineClient>> idle;
  for (int i = 0; i < 100; ++i) idle.push_back(LoggedIn(from + static_cast<uint32_t>(i)));
  EXPECT_EQ(Store(*idle[0], "idle.bin", "abc"), kStored);
  std::this_thread::sleep_for(milliseconds(200));
  env_->AdvanceSeconds(60);
  for (auto& client : idle) EXPECT_EQ(client->Reply(5000), "<closed>");
  EXPECT_TRUE(WaitUntil([&] { return server_->SessionCount() == 0; }, 20000));
  EXPECT_EQ(ReadWholeFile(folder_ + "/idle.bin"), "abc");

  EXPECT_TRUE(WaitUntil([&] { return CountThreads() <= threadsBefore; }, 5000));
  EXPECT_EQ(CountOpenDescriptors(), descriptorsBefore + 100);  // the clients' own
  idle.clear();
  EXPECT_EQ(CountOpenDescriptors(), descriptorsBefore);

  // A hundred more waiting when the server stops.
  std::vector<std::unique_ptr<FtpLineClient>> waiting;
  for (int i = 0; i < 100; ++i) waiting.push_back(LoggedIn(from + 200 + static_cast<uint32_t>(i)));
  StoreWaiting(*waiting[0], "never.bin");
  const auto stopping = steady_clock::now();
  server_->Stop();
  EXPECT_LT(ElapsedMs(stopping), 1000);  // at once, waiting sessions and all
  EXPECT_EQ(server_->SessionCount(), 0);
  EXPECT_TRUE(
      WaitUntil([&] { return CountThreads() <= threadsBefore - 1; }, 5000));  // server thread too
  waiting.clear();
  EXPECT_EQ(CountOpenDescriptors(), descriptorsBefore - 1);  // and its listener
  EXPECT_EQ(LeftoverFiles(), 0);
}

}  // namespace
}  // namespace qb::test
