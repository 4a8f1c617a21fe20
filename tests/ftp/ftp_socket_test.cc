// The FTP transport: line reading and writing on the control connection,
// the data stream receiver, the peer's close, TLS, and the file-name
// helpers used by the protocol engine.
#include "ftp/ftp_socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "config/folders.h"
#include "ftp/save_file.h"
#include "tests/ftp/ftp_test_support.h"
#include "platform/fault_env.h"

namespace qb {
namespace {

using Clock = std::chrono::steady_clock;
using test::ElapsedMs;
using test::SocketPair;

class FtpSocketTest : public ::testing::Test {
 protected:
  test::TestRoot root_;
  FtpRunning running_;
};

// ---- line reader ----

TEST_F(FtpSocketTest, LinesOfOneSegmentComeOneByOneWithoutTheNetwork) {
  SocketPair pair(&running_, Env::Default());
  ASSERT_TRUE(pair.Write("USER a\r\nPASS b\r\n"));
  char line[64];
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 6);
  EXPECT_STREQ(line, "USER a");
  // The client is gone: the second line can only come from what was kept.
  pair.CloseClient();
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 6);
  EXPECT_STREQ(line, "PASS b");
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), kFtpPeerClosed);
  EXPECT_EQ(pair.server->handle(), -1);
}

TEST_F(FtpSocketTest, LoneCarriageReturnAndLineFeedEndLinesToo) {
  SocketPair pair(&running_, Env::Default());
  ASSERT_TRUE(pair.Write("A\r\rB\n\nC\r\n"));
  char line[16];
  std::vector<std::string> lines;
  for (int i = 0; i < 4; ++i) {
    int got = pair.server->LineRecv(line, sizeof line);
    ASSERT_GE(got, 0);
    EXPECT_EQ(static_cast<size_t>(got), std::strlen(line));
    lines.push_back(line);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"A", "", "B", ""}));
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 1);
  EXPECT_STREQ(line, "C");
}

TEST_F(FtpSocketTest, LineLimitIsOneLessThanTheBuffer) {
  SocketPair pair(&running_, Env::Default());
  char line[8];
  ASSERT_TRUE(pair.Write("1234567\r\n"));
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 7);
  EXPECT_STREQ(line, "1234567");
  // The reader takes at most the buffer's size per receive: the LF of a
  // full-length line is still in the socket and reads as an empty line.
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 0);
  ASSERT_TRUE(pair.Write("12345678"));
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), kFtpRecvError);

  // A longer line kept from a call with a bigger buffer is refused too.
  SocketPair other(&running_, Env::Default());
  ASSERT_TRUE(other.Write("x\r\n0123456789\r\n"));
  char big[64];
  EXPECT_EQ(other.server->LineRecv(big, sizeof big), 1);
  EXPECT_EQ(other.server->LineRecv(line, sizeof line), kFtpRecvError);

  // Size 1 holds only empty lines.
  SocketPair tiny(&running_, Env::Default());
  ASSERT_TRUE(tiny.Write("\nz"));
  char one[1];
  EXPECT_EQ(tiny.server->LineRecv(one, 1), 0);
  EXPECT_EQ(tiny.server->LineRecv(one, 1), kFtpRecvError);
}

TEST_F(FtpSocketTest, TimeOutKeepsThePartialLineForTheNextCall) {
  SocketPair pair(&running_, Env::Default());
  pair.server->setTimeout(1);
  ASSERT_TRUE(pair.Write("NO"));
  char line[32];
  auto start = Clock::now();
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), kFtpTimedOut);
  EXPECT_GE(ElapsedMs(start), 950);
  EXPECT_LT(ElapsedMs(start), 1800);
  ASSERT_TRUE(pair.Write("OP\r\n"));
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 4);
  EXPECT_STREQ(line, "NOOP");
}

TEST_F(FtpSocketTest, StopWakesAWaitingLineReaderAtOnce) {
  SocketPair pair(&running_, Env::Default());
  pair.server->setTimeout(0);  // no time-out: only the stop ends the wait
  std::atomic<int> result{1};
  std::atomic<int64_t> returnedMs{0};
  auto start = Clock::now();
  std::thread reader([&] {
    char line[32];
    result = pair.server->LineRecv(line, sizeof line);
    returnedMs = ElapsedMs(start);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const int64_t stoppedMs = ElapsedMs(start);
  running_.Stop();
  reader.join();
  EXPECT_EQ(result, kFtpTimedOut);
  EXPECT_LT(returnedMs - stoppedMs, 100);
}

TEST_F(FtpSocketTest, PeerCloseIsSeenWithUnreadDataAndEndsAPartialLine) {
  SocketPair pair(&running_, Env::Default());
  ASSERT_TRUE(pair.Write("unfinished"));
  EXPECT_FALSE(pair.server->isClosed());
  pair.CloseClient();
  // The close is reported although "unfinished" was never read.
  EXPECT_TRUE(pair.server->isClosed());
  EXPECT_EQ(pair.server->handle(), -1);

  SocketPair other(&running_, Env::Default());
  ASSERT_TRUE(other.Write("half a li"));
  other.CloseClient();
  char line[32];
  EXPECT_EQ(other.server->LineRecv(line, sizeof line), kFtpPeerClosed);
}

// ---- line writer ----

TEST_F(FtpSocketTest, FailingSendClosesAndReportsAnError) {
  FaultEnv env(false);
  SocketPair pair(&running_, env);
  env.FailSend(pair.server->handle(), 2);
  EXPECT_EQ(pair.server->LineSend("220 ready", 10), 11);
  EXPECT_EQ(pair.server->LineSend("500 lost", 10), kFtpRecvError);
  EXPECT_EQ(pair.server->handle(), -1);
  char got[32] = {};
  EXPECT_EQ(SockRecv(pair.client, got, sizeof got - 1), 11);
  EXPECT_STREQ(got, "220 ready\r\n");
}

TEST_F(FtpSocketTest, IgnoredResetRetriesUntilTheTimeOut) {
  root_.WriteSettings("[MANAGEMENT]\nFTP_IgnoreConnReset=1\n");
  FaultEnv env(false);
  SocketPair pair(&running_, env);
  // Every send fails as a reset one would.
  env.FailSend(pair.server->handle(), 1);
  auto start = Clock::now();
  std::thread again([&] {
    for (int i = 0; i < 60; ++i) {
      env.FailSend(pair.server->handle(), 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  });
  int result = pair.server->LineSend("226 done", 1);
  again.join();
  EXPECT_EQ(result, kFtpTimedOut);
  EXPECT_GE(ElapsedMs(start), 950);
  EXPECT_NE(pair.server->handle(), -1);
}

TEST_F(FtpSocketTest, SendWaitsForRoomAndGivesUpAfterItsTimeOut) {
  SocketPair pair(&running_, Env::Default());
  SetSendBufferSize(pair.server->handle(), 4096);
  SetReceiveBufferSize(pair.client, 4096);
  std::string big(4 << 20, 'x');
  auto start = Clock::now();
  EXPECT_EQ(pair.server->Send(big.data(), static_cast<int>(big.size()), 1), kFtpTimedOut);
  EXPECT_GE(ElapsedMs(start), 950);
  // Stopping ends the wait with what was sent so far.
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    running_.Stop();
  });
  start = Clock::now();
  int sent = pair.server->Send(big.data(), static_cast<int>(big.size()), 0);
  stopper.join();
  EXPECT_GE(sent, 0);
  EXPECT_LT(sent, static_cast<int>(big.size()));
  EXPECT_LT(ElapsedMs(start), 600);
}

// Lines of `count` copies of one letter per writer: a reader finds a line
// with two letters or a wrong length if two sends interleaved.
void CheckWholeLines(const std::string& received, int perWriter, size_t length) {
  std::map<char, int> seen;
  size_t at = 0;
  while (at < received.size()) {
    size_t end = received.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    std::string line = received.substr(at, end - at);
    ASSERT_EQ(line.size(), length);
    ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "interleaved line";
    ++seen[line[0]];
    at = end + 2;
  }
  EXPECT_EQ(seen['A'], perWriter);
  EXPECT_EQ(seen['B'], perWriter);
}

TEST_F(FtpSocketTest, LinesOfTwoWritersNeverInterleave) {
  FaultEnv env(false);
  env.LimitSends(97);  // every line takes many sends
  SocketPair pair(&running_, env);
  constexpr int kLines = 100;
  constexpr size_t kLength = 3000;
  std::string received;
  std::thread reader([&] {
    char buffer[8192];
    long got;
    while ((got = SockRecv(pair.client, buffer, sizeof buffer)) > 0) received.append(buffer, got);
  });
  auto writer = [&](char letter) {
    std::string line(kLength, letter);
    for (int i = 0; i < kLines; ++i) pair.server->LineSend(line.c_str(), 10);
  };
  std::thread a(writer, 'A'), b(writer, 'B');
  a.join();
  b.join();
  pair.server->close();
  reader.join();
  CheckWholeLines(received, kLines, kLength);
}

// ---- data stream ----

TEST_F(FtpSocketTest, StreamIsCompleteWhenThePeerCloses) {
  SocketPair pair(&running_, Env::Default());
  pair.server->setTimeout(5);
  std::string data(300000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  std::thread sender([&] {
    pair.Write(data);
    pair.CloseClient();
  });
  MemorySaveFile file(nullptr);
  EXPECT_TRUE(pair.server->recvBinaryFile(&file));
  sender.join();
  ASSERT_EQ(file.getSize(), data.size());
  std::string back(data.size(), '\0');
  file.readAll(back.data());
  EXPECT_EQ(back, data);
}

TEST_F(FtpSocketTest, StreamSilentForTheTimeOutFails) {
  SocketPair pair(&running_, Env::Default());
  pair.server->setTimeout(1);
  ASSERT_TRUE(pair.Write("0123456789"));
  MemorySaveFile file(nullptr);
  auto start = Clock::now();
  EXPECT_FALSE(pair.server->recvBinaryFile(&file));
  EXPECT_GE(ElapsedMs(start), 950);
  EXPECT_LT(ElapsedMs(start), 1800);
  EXPECT_EQ(file.getSize(), 10u);
}

// The server stopping in the middle of a stream: what came is not a file.
TEST_F(FtpSocketTest, StreamCutShortByTheStopIsNotComplete) {
  SocketPair pair(&running_, Env::Default());
  pair.server->setTimeout(30);
  ASSERT_TRUE(pair.Write("the first part of a page"));
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    running_.Stop();
  });
  MemorySaveFile file(nullptr);
  auto start = Clock::now();
  EXPECT_FALSE(pair.server->recvBinaryFile(&file));
  EXPECT_LT(ElapsedMs(start), 1000);
  stopper.join();
}

TEST_F(FtpSocketTest, StreamStopsWhenTheWriterCannotKeepTheBytes) {
  ::setenv("TMP", root_.path().c_str(), 1);
  InitTempFolder();
  FaultEnv env(false);
  SocketPair pair(&running_, Env::Default());
  TempSaveFile file("/nowhere", env);
  env.FailWrite(1);
  ASSERT_TRUE(pair.Write("some bytes"));
  EXPECT_FALSE(pair.server->recvBinaryFile(&file));
  EXPECT_EQ(file.getSize(), 0u);
}

// ---- listen, accept, connect ----

TEST_F(FtpSocketTest, ListenAcceptAndConnectOverLoopback) {
  FtpSocket listener(&running_, Env::Default());
  ASSERT_TRUE(listener.listen(0, "127.0.0.1"));
  ASSERT_NE(listener.localPort(), 0);
  EXPECT_EQ(listener.accept(0), nullptr);  // nobody yet: at once

  FtpSocket client(&running_, Env::Default());
  EXPECT_EQ(client.connect("127.0.0.1", listener.localPort()), 1);
  auto accepted = listener.accept(1000);
  ASSERT_NE(accepted, nullptr);
  EXPECT_EQ(accepted->peerAddressText(), "127.0.0.1");
  EXPECT_EQ(accepted->localAddressText(), "127.0.0.1");
  const uint32_t network = accepted->peerAddress();
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&network)[0], 127);
  EXPECT_EQ(client.LineSend("HELLO", 5), 7);
  char line[16];
  EXPECT_EQ(accepted->LineRecv(line, sizeof line), 5);

  // A port nobody listens on: refused.
  FtpSocket probe(&running_, Env::Default());
  ASSERT_TRUE(probe.listen(0, "127.0.0.1"));
  const uint16_t freed = probe.localPort();
  probe.close();
  FtpSocket refused(&running_, Env::Default());
  EXPECT_EQ(refused.connect("127.0.0.1", freed), -1);
  EXPECT_EQ(refused.lastError(), kWsaEConnRefused);

  FtpSocket taken(&running_, Env::Default());
  EXPECT_FALSE(taken.listen(listener.localPort(), "127.0.0.1"));
  EXPECT_EQ(taken.lastError(), kWsaEAddrInUse);

  // Stopping ends an accept wait.
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    running_.Stop();
  });
  const auto start = Clock::now();
  EXPECT_EQ(listener.accept(5000), nullptr);
  stopper.join();
  EXPECT_LT(ElapsedMs(start), 1000);
}

// ---- TLS ----

void LogLine(const char* text);
std::vector<std::string>& Logged() {
  static std::vector<std::string> lines;
  return lines;
}
void LogLine(const char* text) { Logged().push_back(text); }

class FtpTlsTest : public FtpSocketTest {
 protected:
  void SetUp() override {
    const auto& files = test::Certificate::Get();
    context_ = createSslContext(files.key.c_str(), "", files.certificate.c_str(), LogLine);
    ASSERT_NE(context_, nullptr);
  }
  std::unique_ptr<TlsContext> context_;
};

TEST_F(FtpTlsTest, ContextNeedsReadableFilesAndTheRightPassPhrase) {
  char pattern[] = "/tmp/qbkeys.XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  const std::string key = folder + "/k.pem", certificate = folder + "/c.pem";
  ASSERT_TRUE(WriteSelfSignedCertificate(key, certificate, "secret"));
  Logged().clear();
  EXPECT_NE(createSslContext(key.c_str(), "secret", certificate.c_str(), LogLine), nullptr);
  EXPECT_EQ(createSslContext(key.c_str(), "", certificate.c_str(), LogLine), nullptr);
  EXPECT_EQ(createSslContext(key.c_str(), "wrong", certificate.c_str(), LogLine), nullptr);
  EXPECT_EQ(createSslContext(key.c_str(), "", "", LogLine), nullptr);
  // Each line names the file and OpenSSL's reason.
  const std::vector<std::string> expected{"Couldn't read key file " + key + ": error:",
                                          "Couldn't read key file " + key + ": error:",
                                          "Couldn't read certificate file : error:"};
  ASSERT_EQ(Logged().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Logged()[i].rfind(expected[i], 0), 0u) << Logged()[i];
  }
  // A key of another certificate is refused with the library's reason.
  const std::string otherKey = folder + "/k2.pem", otherCertificate = folder + "/c2.pem";
  ASSERT_TRUE(WriteSelfSignedCertificate(otherKey, otherCertificate));
  Logged().clear();
  EXPECT_EQ(createSslContext(otherKey.c_str(), "", certificate.c_str(), LogLine), nullptr);
  ASSERT_EQ(Logged().size(), 1u);
  EXPECT_NE(Logged()[0].find("mismatch"), std::string::npos) << Logged()[0];
  // No key path: a context without a certificate.
  EXPECT_NE(createSslContext(nullptr, nullptr, nullptr, LogLine), nullptr);
  std::filesystem::remove_all(folder);
}

TEST_F(FtpTlsTest, RoundTripOverAProtectedControlConnection) {
  SocketPair pair(&running_, Env::Default());
  pair.server->setTimeout(5);
  std::string reply;
  std::thread printer([&] {
    test::TlsClient client(pair.client);
    ASSERT_TRUE(client.Handshake());
    client.Write("USER a\r\nPASS b\r\n");
    reply = client.ReadLine();
    client.Shutdown();
  });
  ASSERT_TRUE(pair.server->sslAccept(context_.get()));
  EXPECT_TRUE(pair.server->isTls());
  char line[64];
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 6);
  EXPECT_STREQ(line, "USER a");
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 6);
  EXPECT_STREQ(line, "PASS b");
  EXPECT_EQ(pair.server->LineSend("230 User a logged in.", 10), 23);
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), kFtpPeerClosed);
  printer.join();
  EXPECT_EQ(reply, "230 User a logged in.");
  EXPECT_FALSE(pair.server->isTls());
}

TEST_F(FtpTlsTest, ProtectedStreamEndsWithThePeersCloseWithOrWithoutNotify) {
  for (bool notify : {true, false}) {
    SocketPair pair(&running_, Env::Default());
    pair.server->setTimeout(5);
    std::string data(100000, 'd');
    std::thread printer([&] {
      test::TlsClient client(pair.client);
      ASSERT_TRUE(client.Handshake());
      client.Write(data);
      if (notify) client.Shutdown();
      pair.CloseClient();
    });
    ASSERT_TRUE(pair.server->sslAccept(context_.get()));
    MemorySaveFile file(nullptr);
    EXPECT_TRUE(pair.server->recvBinaryFile(&file)) << notify;
    printer.join();
    EXPECT_EQ(file.getSize(), data.size());
  }
}

// A client that writes its file, sends its close and then waits for the
// server's (as Python's ftplib does): the close arrives with the last data
// and must end the stream at once, not after the data connection's time-out.
TEST_F(FtpTlsTest, CloseArrivingWithTheLastDataEndsTheStreamAtOnce) {
  for (int round = 0; round < 20; ++round) {
    SocketPair pair(&running_, Env::Default());
    pair.server->setTimeout(5);
    std::string data(70000, 'e');
    std::thread printer([&] {
      test::TlsClient client(pair.client);
      ASSERT_TRUE(client.Handshake());
      client.Write(data);
      client.Shutdown();
      client.ReadAll();  // until the server's own close
      pair.CloseClient();
    });
    ASSERT_TRUE(pair.server->sslAccept(context_.get()));
    // Let data and close lie in the socket together before the first read.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    MemorySaveFile file(nullptr);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(pair.server->recvBinaryFile(&file));
    EXPECT_LT(test::ElapsedMs(started), 2000);
    pair.server->close();
    printer.join();
    EXPECT_EQ(file.getSize(), data.size());
  }
}

TEST_F(FtpTlsTest, HandshakeThatStallsFailsWithinItsBudget) {
  SocketPair pair(&running_, Env::Default());
  ASSERT_TRUE(pair.Write("\x16\x03\x01"));  // the start of a record, then nothing
  auto start = Clock::now();
  EXPECT_FALSE(pair.server->sslAccept(context_.get(), 300));
  EXPECT_GE(ElapsedMs(start), 280);
  EXPECT_LT(ElapsedMs(start), 1000);
  EXPECT_FALSE(pair.server->isTls());
  EXPECT_EQ(pair.server->handle(), -1);  // closed: nothing goes on in plain form
}

TEST_F(FtpTlsTest, PlainBytesAfterAuthAreDroppedByTheHandshake) {
  SocketPair pair(&running_, Env::Default());
  pair.server->setTimeout(5);
  // A command smuggled behind AUTH in the same plain segment.
  ASSERT_TRUE(pair.Write("AUTH TLS\r\nUSER evil\r\n"));
  char line[64];
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 8);
  std::thread printer([&] {
    test::TlsClient client(pair.client);
    ASSERT_TRUE(client.Handshake());
    client.Write("USER good\r\n");
    client.ReadAll();
  });
  ASSERT_TRUE(pair.server->sslAccept(context_.get()));
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 9);
  EXPECT_STREQ(line, "USER good");
  pair.server->close();
  printer.join();
}

TEST_F(FtpTlsTest, TwoWritersAndAReaderShareOneTlsSession) {
  SocketPair pair(&running_, Env::Default());
  pair.server->setTimeout(5);
  constexpr int kLines = 60;
  constexpr size_t kLength = 2500;
  std::string received;
  std::thread printer([&] {
    test::TlsClient client(pair.client);
    ASSERT_TRUE(client.Handshake());
    // Commands flow in while the replies flow out.
    for (int i = 0; i < kLines; ++i) client.Write("NOOP\r\n");
    received = client.ReadAll();
  });
  ASSERT_TRUE(pair.server->sslAccept(context_.get()));
  auto writer = [&](char letter) {
    std::string line(kLength, letter);
    for (int i = 0; i < kLines; ++i) pair.server->LineSend(line.c_str(), 10);
  };
  std::thread a(writer, 'A'), b(writer, 'B');
  char line[64];
  int commands = 0;
  while (commands < kLines && pair.server->LineRecv(line, sizeof line) == 4) ++commands;
  a.join();
  b.join();
  pair.server->close();
  printer.join();
  EXPECT_EQ(commands, kLines);
  CheckWholeLines(received, kLines, kLength);
}

TEST_F(FtpTlsTest, FailedTlsWriteClosesTheConnection) {
  FaultEnv env(false);
  SocketPair pair(&running_, env);
  std::thread printer([&] {
    test::TlsClient client(pair.client);
    ASSERT_TRUE(client.Handshake());
    client.ReadAll();
  });
  ASSERT_TRUE(pair.server->sslAccept(context_.get()));
  env.FailTlsWrite(1);
  EXPECT_EQ(pair.server->LineSend("150 Opening", 10), kFtpRecvError);
  EXPECT_EQ(pair.server->handle(), -1);
  printer.join();
}

// ---- names and paths ----

TEST(FtpPaths, SearchesStepOverDoubleByteCharactersOnlyUnderCodePage932) {
  // "\x95\x5C" is one character whose second byte looks like a backslash.
  const char path[] = "C:\\scan\\\x95\x5C\\name.pdf";
  const char trail[] = "\x95\x5C" "ab";
  ::setenv("QUILLBOX_CODEPAGE", "932", 1);
  EXPECT_EQ(FindLastByte(path, '\\'), path + 10);
  EXPECT_EQ(FindFirstByte(trail, '\\'), nullptr);
  EXPECT_EQ(FindFirstByte(path, '\\'), path + 2);
  // A lead byte at the very end does not carry the search past the text.
  const char tail[] = "a\\\x95";
  EXPECT_EQ(FindLastByte(tail, '\\'), tail + 1);
  ::setenv("QUILLBOX_CODEPAGE", "65001", 1);
  EXPECT_EQ(FindLastByte(path, '\\'), path + 10);
  EXPECT_EQ(FindFirstByte(trail, '\\'), trail + 1);
  EXPECT_EQ(FindLastByte(path, '/'), nullptr);
  ::unsetenv("QUILLBOX_CODEPAGE");
}

TEST(FtpPaths, FolderAndExistenceTests) {
  test::TestRoot root;
  const std::string folder = root.path() + "/dest";
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/scan[1].pdf") << "x";
  std::ofstream(folder + "/.hidden") << "x";
  EXPECT_TRUE(IsFolder(folder.c_str()));
  EXPECT_TRUE(IsFolder((folder + "/").c_str()));
  EXPECT_TRUE(IsFolder("/"));
  EXPECT_FALSE(IsFolder(""));
  EXPECT_FALSE(IsFolder((folder + "/scan[1].pdf").c_str()));
  EXPECT_FALSE(IsFolder((folder + "/missing").c_str()));

  EXPECT_TRUE(PathExists((folder + "/scan[1].pdf").c_str()));
  EXPECT_TRUE(PathExists((folder + "/*.pdf").c_str()));
  EXPECT_TRUE(PathExists((folder + "/scan[1]*").c_str()));
  EXPECT_TRUE(PathExists((folder + "/scan?1?.pdf").c_str()));
  EXPECT_FALSE(PathExists((folder + "/scan1.pdf").c_str()));
  EXPECT_FALSE(PathExists((folder + "/scan1*").c_str()));
  EXPECT_FALSE(PathExists((folder + "/*.tif").c_str()));
  EXPECT_TRUE(PathExists((folder + "/.hid*").c_str()));
  EXPECT_TRUE(PathExists(folder.c_str()));
  EXPECT_FALSE(PathExists(""));
}

}  // namespace
}  // namespace qb
