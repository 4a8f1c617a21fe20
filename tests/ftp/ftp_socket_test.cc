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
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "config/folders.h"
#include "ftp/save_file.h"
#include "tests/ftp/test_server.h"

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

// Each step: what the client sends (and whether it then closes), the
// reader's buffer size, and what LineRecv returns and fills in.
TEST_F(FtpSocketTest, LineReader) {
  struct Step {
    std::string sent;
    bool close;
    size_t size;
    int result;
    const char* line;  // nullptr: not looked at
  };
  const std::pair<const char*, std::vector<Step>> cases[] = {
      // The client is gone: the second line can only come from what was kept.
      {"lines of one segment one by one",
       {{"USER a\r\nPASS b\r\n", false, 64, 6, "USER a"},
        {"", true, 64, 6, "PASS b"},
        {"", false, 64, kFtpPeerClosed, nullptr}}},
      {"lone CR and LF end lines too",
       {{"A\r\rB\n\nC\r\n", false, 16, 1, "A"},
        {"", false, 16, 0, ""},
        {"", false, 16, 1, "B"},
        {"", false, 16, 0, ""},
        {"", false, 16, 1, "C"}}},
      // The reader takes at most the buffer's size per receive: the LF of a
      // full-length line is still in the socket and reads as an empty line.
      {"the limit is one less than the buffer",
       {{"1234567\r\n", false, 8, 7, "1234567"},
        {"", false, 8, 0, ""},
        {"12345678", false, 8, kFtpRecvError, nullptr}}},
      {"a longer line kept from a bigger buffer is refused",
       {{"x\r\n0123456789\r\n", false, 64, 1, "x"}, {"", false, 8, kFtpRecvError, nullptr}}},
      {"size 1 holds only empty lines",
       {{"\nz", false, 1, 0, ""}, {"", false, 1, kFtpRecvError, nullptr}}},
      {"the close ends a partial line", {{"half a li", true, 32, kFtpPeerClosed, nullptr}}},
  };
  for (const auto& [what, steps] : cases) {
    SCOPED_TRACE(what);
    SocketPair pair(&running_, Env::Default());
    for (const Step& step : steps) {
      ASSERT_TRUE(pair.Write(step.sent));
      if (step.close) pair.CloseClient();
      std::vector<char> line(step.size, 'z');
      EXPECT_EQ(pair.server->LineRecv(line.data(), static_cast<int>(step.size)), step.result);
      if (step.line != nullptr) {
        EXPECT_STREQ(line.data(), step.line);
      }
      if (step.result == kFtpPeerClosed) {
        EXPECT_EQ(pair.server->handle(), -1);
      }
    }
  }
}

TEST_F(FtpSocketTest, PeerCloseIsSeenWithUnreadData) {
  SocketPair pair(&running_, Env::Default());
  ASSERT_TRUE(pair.Write("unfinished"));
  EXPECT_FALSE(pair.server->IsClosed());
  pair.CloseClient();
  // The close is reported although "unfinished" was never read.
  EXPECT_TRUE(pair.server->IsClosed());
  EXPECT_EQ(pair.server->handle(), -1);
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

// ---- TLS ----

std::vector<std::string>& Logged() {
  static std::vector<std::string> lines;
  return lines;
}
void LogLine(const char* text) { Logged().push_back(text); }

class FtpTlsTest : public FtpSocketTest {
 protected:
  void SetUp() override {
    const auto& files = test::Certificate::Get();
    context_ = CreateSslContext(files.key.c_str(), "", files.certificate.c_str(), LogLine);
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
  EXPECT_NE(CreateSslContext(key.c_str(), "secret", certificate.c_str(), LogLine), nullptr);
  EXPECT_EQ(CreateSslContext(key.c_str(), "", certificate.c_str(), LogLine), nullptr);
  EXPECT_EQ(CreateSslContext(key.c_str(), "wrong", certificate.c_str(), LogLine), nullptr);
  EXPECT_EQ(CreateSslContext(key.c_str(), "", "", LogLine), nullptr);
  // Each line names the file and OpenSSL's reason.
  const std::vector<std::string> expected{
      "Couldn't read key file " + key + ": error:", "Couldn't read key file " + key + ": error:",
      "Couldn't read certificate file : error:"};
  ASSERT_EQ(Logged().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Logged()[i].rfind(expected[i], 0), 0u) << Logged()[i];
  }
  // A key of another certificate is refused with the library's reason.
  const std::string otherKey = folder + "/k2.pem", otherCertificate = folder + "/c2.pem";
  ASSERT_TRUE(WriteSelfSignedCertificate(otherKey, otherCertificate));
  Logged().clear();
  EXPECT_EQ(CreateSslContext(otherKey.c_str(), "", certificate.c_str(), LogLine), nullptr);
  ASSERT_EQ(Logged().size(), 1u);
  EXPECT_NE(Logged()[0].find("mismatch"), std::string::npos) << Logged()[0];
  // No key path: a context without a certificate.
  EXPECT_NE(CreateSslContext(nullptr, nullptr, nullptr, LogLine), nullptr);
  std::filesystem::remove_all(folder);
}

// The stream ends with the peer's close, with or without its TLS close
// notify. A client that writes its file, sends its notify and then waits
// for the server's (as Python's ftplib does) has its notify arrive with the
// last data: that must end the stream at once, not at the time-out.
TEST_F(FtpTlsTest, ProtectedStreamEndsAtOnceWithThePeersClose) {
  for (int round = 0; round < 20; ++round) {
    const bool notify = round % 2 == 0;
    SocketPair pair(&running_, Env::Default());
    pair.server->SetTimeout(5);
    std::string data(70000, 'e');
    std::thread printer([&] {
      test::TlsClient client(pair.client);
      ASSERT_TRUE(client.Handshake());
      client.Write(data);
      if (notify) {
        client.Shutdown();
        client.ReadAll();  // until the server's own close
      }
      pair.CloseClient();
    });
    ASSERT_TRUE(pair.server->SslAccept(context_.get()));
    // Let data and close lie in the socket together before the first read.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    MemorySaveFile file(nullptr);
    const auto started = Clock::now();
    EXPECT_TRUE(pair.server->RecvBinaryFile(&file)) << notify;
    EXPECT_LT(ElapsedMs(started), 2000);
    pair.server->Close();
    printer.join();
    EXPECT_EQ(file.GetSize(), data.size());
  }
}

// Every wait of the transport ends at its time-out, or at once when the
// server stops, and says which; a handshake that is no handshake closes.
TEST_F(FtpTlsTest, EveryWaitEndsAtItsTimeOutOrAtTheStop) {
  struct Case {
    const char* what;
    std::string sent;  // by the client before the wait
    int stopAfterMs;   // -1: no stop
    int minMs, maxMs;
    std::function<bool(SocketPair&, FtpRunning&)> wait;  // true when the outcome is right
  };
  const std::string big(4 << 20, 'x');
  auto smallBuffers = [](SocketPair& pair) {
    SetSendBufferSize(pair.server->handle(), 4096);
    SetReceiveBufferSize(pair.client, 4096);
  };
  char line[32];
  const Case cases[] = {
      {"line read times out and keeps the partial line", "NO", -1, 950, 1800,
       [&](SocketPair& pair, FtpRunning&) {
         pair.server->SetTimeout(1);
         if (pair.server->LineRecv(line, sizeof line) != kFtpTimedOut) return false;
         pair.Write("OP\r\n");
         return pair.server->LineRecv(line, sizeof line) == 4 && std::string(line) == "NOOP";
       }},
      {"line read without time-out stops", "", 100, 90, 200,
       [&](SocketPair& pair, FtpRunning&) {
         pair.server->SetTimeout(0);
         return pair.server->LineRecv(line, sizeof line) == kFtpTimedOut;
       }},
      {"send times out", "", -1, 950, 1800,
       [&](SocketPair& pair, FtpRunning&) {
         smallBuffers(pair);
         return pair.server->Send(big.data(), static_cast<int>(big.size()), 1) == kFtpTimedOut;
       }},
      {"send stops with what was sent", "", 100, 90, 600,
       [&](SocketPair& pair, FtpRunning&) {
         smallBuffers(pair);
         const int sent = pair.server->Send(big.data(), static_cast<int>(big.size()), 0);
         return sent >= 0 && sent < static_cast<int>(big.size());
       }},
      {"silent stream times out", "0123456789", -1, 950, 1800,
       [&](SocketPair& pair, FtpRunning&) {
         pair.server->SetTimeout(1);
         MemorySaveFile file(nullptr);
         return !pair.server->RecvBinaryFile(&file) && file.GetSize() == 10u;
       }},
      {"stream cut short by the stop is no file", "the first part of a page", 100, 90, 1000,
       [&](SocketPair& pair, FtpRunning&) {
         pair.server->SetTimeout(30);
         MemorySaveFile file(nullptr);
         return !pair.server->RecvBinaryFile(&file);
       }},
      {"accept stops", "", 100, 90, 1000,
       [&](SocketPair&, FtpRunning& running) {
         FtpSocket listener(&running, Env::Default());
         return listener.Listen(0, "127.0.0.1") && listener.Accept(5000) == nullptr;
       }},
      {"stalled handshake fails within its budget", "\x16\x03\x01", -1, 280, 1000,
       [&](SocketPair& pair, FtpRunning&) {
         return !pair.server->SslAccept(context_.get(), 300) && !pair.server->IsTls() &&
                pair.server->handle() == -1;
       }},
      {"plain text where the handshake belongs", "USER printer\r\nPASS 1234\r\n", -1, 0, 1000,
       [&](SocketPair& pair, FtpRunning&) {
         return !pair.server->SslAccept(context_.get(), 5000) && pair.server->handle() == -1;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FtpRunning running;
    SocketPair pair(&running, Env::Default());
    ASSERT_TRUE(pair.Write(c.sent));
    std::thread stopper([&] {
      if (c.stopAfterMs < 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(c.stopAfterMs));
      running.Stop();
    });
    const auto start = Clock::now();
    EXPECT_TRUE(c.wait(pair, running));
    const int64_t took = ElapsedMs(start);
    stopper.join();
    EXPECT_GE(took, c.minMs);
    EXPECT_LT(took, c.maxMs);
  }
}

// A command smuggled behind AUTH in the same plain segment is dropped; what
// comes inside TLS is read and answered until the printer's TLS close.
TEST_F(FtpTlsTest, RoundTripDropsPlainBytesSentBehindAuth) {
  SocketPair pair(&running_, Env::Default());
  pair.server->SetTimeout(5);
  ASSERT_TRUE(pair.Write("AUTH TLS\r\nUSER evil\r\n"));
  char line[64];
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 8);
  std::string reply;
  std::thread printer([&] {
    test::TlsClient client(pair.client);
    ASSERT_TRUE(client.Handshake());
    client.Write("USER good\r\n");
    reply = client.ReadLine();
    client.Shutdown();
  });
  ASSERT_TRUE(pair.server->SslAccept(context_.get()));
  EXPECT_TRUE(pair.server->IsTls());
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), 9);
  EXPECT_STREQ(line, "USER good");
  EXPECT_EQ(pair.server->LineSend("331 Password required for good.", 10), 33);
  EXPECT_EQ(pair.server->LineRecv(line, sizeof line), kFtpPeerClosed);
  printer.join();
  EXPECT_EQ(reply, "331 Password required for good.");
  EXPECT_FALSE(pair.server->IsTls());
}

// Lines of one letter per writer: a reader finds a line with two letters
// or a wrong length if two sends interleaved. Plain lines take many sends
// each; over TLS, commands flow in while the replies flow out.
TEST_F(FtpTlsTest, LinesOfTwoWritersNeverInterleavePlainOrProtected) {
  constexpr int kLines = 60;
  constexpr size_t kLength = 3000;
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "plain");
    FaultEnv env(false);
    env.LimitSends(97);
    SocketPair pair(&running_, tls ? Env::Default() : env);
    pair.server->SetTimeout(5);
    std::string received;
    std::thread printer([&] {
      if (!tls) {
        char buffer[8192];
        long got;
        while ((got = SockRecv(pair.client, buffer, sizeof buffer)) > 0)
          received.append(buffer, got);
        return;
      }
      test::TlsClient client(pair.client);
      ASSERT_TRUE(client.Handshake());
      for (int i = 0; i < kLines; ++i) client.Write("NOOP\r\n");
      received = client.ReadAll();
    });
    if (tls) {
      ASSERT_TRUE(pair.server->SslAccept(context_.get()));
    }
    auto writer = [&](char letter) {
      std::string line(kLength, letter);
      for (int i = 0; i < kLines; ++i) pair.server->LineSend(line.c_str(), 10);
    };
    std::thread a(writer, 'A'), b(writer, 'B');
    char line[64];
    int commands = 0;
    while (tls && commands < kLines && pair.server->LineRecv(line, sizeof line) == 4) ++commands;
    a.join();
    b.join();
    pair.server->Close();
    printer.join();
    EXPECT_EQ(commands, tls ? kLines : 0);
    std::map<char, int> seen;
    for (size_t at = 0, end; at < received.size(); at = end + 2) {
      end = received.find("\r\n", at);
      ASSERT_NE(end, std::string::npos);
      const std::string whole = received.substr(at, end - at);
      ASSERT_EQ(whole.size(), kLength);
      ASSERT_EQ(whole.find_first_not_of(whole[0]), std::string::npos) << "interleaved line";
      ++seen[whole[0]];
    }
    EXPECT_EQ(seen['A'], kLines);
    EXPECT_EQ(seen['B'], kLines);
  }
}

TEST_F(FtpTlsTest, FailedTlsWriteClosesTheConnection) {
  FaultEnv env(false);
  SocketPair pair(&running_, env);
  std::thread printer([&] {
    test::TlsClient client(pair.client);
    ASSERT_TRUE(client.Handshake());
    client.ReadAll();
  });
  ASSERT_TRUE(pair.server->SslAccept(context_.get()));
  env.FailTlsWrite(1);
  EXPECT_EQ(pair.server->LineSend("150 Opening", 10), kFtpRecvError);
  EXPECT_EQ(pair.server->handle(), -1);
  printer.join();
}

// ---- names and paths ----

TEST(FtpPaths, SearchesStepOverDoubleByteCharactersOnlyUnderCodePage932) {
  // "\x95\x5C" is one character whose second byte looks like a backslash.
  const char path[] = "C:\\scan\\\x95\x5C\\name.pdf";
  const char trail[] = "a\\\x95\x5C";
  // A lead byte at the very end does not carry the search past the text.
  const char tail[] = "a\\\x95";
  ::setenv("QUILLBOX_CODEPAGE", "932", 1);
  EXPECT_EQ(FindLastByte(path, '\\'), path + 10);
  EXPECT_EQ(FindLastByte(trail, '\\'), trail + 1);
  EXPECT_EQ(FindLastByte(tail, '\\'), tail + 1);
  ::setenv("QUILLBOX_CODEPAGE", "65001", 1);
  EXPECT_EQ(FindLastByte(trail, '\\'), trail + 3);
  EXPECT_EQ(FindLastByte(path, '/'), nullptr);
  ::unsetenv("QUILLBOX_CODEPAGE");
}

}  // namespace
}  // namespace qb
