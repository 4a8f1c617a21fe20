// The FTPS record path. The control byte picks how the input reaches the
// server's SslAccept and receive:
//   bit 0 clear: the input is the client's whole side of the connection
//     (handshake and records, as raw bytes), then the client hangs up;
//   bit 0 set: a real client shakes hands, sends the input as application
//     data (bits 1-3 pick the piece size), then either ends with
//     close_notify (bit 4 clear) or appends the input again as raw bytes
//     (bit 4 set) and hangs up.
// Bit 5 picks the line reader (LineRecv) or the stream receiver
// (RecvBinaryFile). Bits 6-7, with a real client, cut its bytes on the way
// into pieces of 1, 5 or 61 bytes (0: as written), so that records arrive
// split across the server's reads, as on a slow link. Stops when
//   - a handshake with the real client fails, or one with raw bytes succeeds
//     but nothing goes on as it should;
//   - the stream receiver keeps bytes that are not a prefix of the data,
//     or, after close_notify, reports failure or misses bytes;
//   - a line returned is not the next non-empty line of the data.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ftp/ftp_socket.h"
#include "ftp/save_file.h"
#include "ftp_socket_pair.h"
#include "fuzz_root.h"
#include "platform/net.h"
#include "platform/tls.h"

namespace {

struct Setup {
  qb::fuzz::FuzzRoot root{""};
  std::unique_ptr<qb::TlsContext> server;
  std::unique_ptr<qb::TlsContext> client;
  Setup() {
    const std::string key = root.path() + "/key.pem", certificate = root.path() + "/cert.pem";
    if (!qb::WriteSelfSignedCertificate(key, certificate)) std::abort();
    server = qb::CreateSslContext(key.c_str(), "", certificate.c_str(), nullptr);
    client = qb::TlsContext::NewClient();
    if (!server || !client) std::abort();
  }
};

Setup& Get() {
  static Setup setup;
  return setup;
}

// Carries the real client's bytes to the server in pieces of `cut` bytes,
// each sent on its own after the server had a chance to read the one
// before; the server's bytes go back whole. Ends when the client's side
// ends.
void Relay(int fromClient, int toServer, size_t cut) {
  std::vector<uint8_t> block(16384 + 64);
  for (;;) {
    const long got = qb::SockRecv(fromClient, block.data(), block.size());
    if (got <= 0) break;
    for (long at = 0; at < got; at += static_cast<long>(cut)) {
      const long take = got - at < static_cast<long>(cut) ? got - at : static_cast<long>(cut);
      if (!qb::fuzz::SendAll(toServer, block.data() + at, static_cast<size_t>(take))) {
        // The server is done reading: the client's further writes must
        // fail rather than wait for a relay that no longer reads.
        qb::SockShutdown(fromClient, qb::kShutBoth);
        return;
      }
      std::this_thread::yield();
    }
  }
  qb::SockShutdown(toServer, qb::kShutSend);
}

std::vector<std::string> NonEmptyLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!current.empty()) lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup& setup = Get();
  if (size < 1) return 0;
  const uint8_t control = data[0];
  ++data;
  --size;
  const bool realClient = (control & 1) != 0;
  const size_t piece = size_t{1} << (((control >> 1) & 7) * 2);  // 1 .. 16384
  const bool garbageAfter = (control & 16) != 0;
  const bool lines = (control & 32) != 0;

  static qb::FtpRunning running;
  qb::FtpSocket socket(&running, qb::Env::Default());
  const int clientEnd = qb::fuzz::AttachClientEnd(socket);
  socket.SetTimeout(2);

  std::thread client;
  std::thread relay;
  std::thread back;
  int tlsEnd = clientEnd;  // where the real client's TLS runs
  int relayEnd = -1;
  static constexpr size_t kCuts[4] = {0, 1, 5, 61};
  const size_t cut = kCuts[(control >> 6) & 3];
  bool handshaken = false;
  if (realClient && cut != 0) {
    int ends[2];
    if (!qb::StreamSocketPair(ends, false)) std::abort();
    tlsEnd = ends[0];
    relayEnd = ends[1];
    relay = std::thread([relayEnd, clientEnd, cut] { Relay(relayEnd, clientEnd, cut); });
    // The server's answers reach the client without cutting.
    back = std::thread([clientEnd, relayEnd] {
      std::vector<uint8_t> block(16384);
      for (;;) {
        const long got = qb::SockRecv(clientEnd, block.data(), block.size());
        if (got <= 0 || !qb::fuzz::SendAll(relayEnd, block.data(), static_cast<size_t>(got))) break;
      }
      qb::SockShutdown(relayEnd, qb::kShutSend);
    });
  }
  if (realClient) {
    client = std::thread([&, tlsEnd] {
      const int clientEnd = tlsEnd;
      auto session = qb::TlsSession::NewClient(setup.client.get(), clientEnd);
      if (!session || session->Connect().status != qb::TlsStatus::kOk) {
        qb::SockShutdown(clientEnd, qb::kShutBoth);
        return;
      }
      handshaken = true;
      for (size_t at = 0; at < size; at += piece) {
        const size_t take = size - at < piece ? size - at : piece;
        if (session->Write(data + at, static_cast<int>(take)).status != qb::TlsStatus::kOk) break;
      }
      if (garbageAfter) {
        qb::fuzz::SendAll(clientEnd, data, size);
      } else {
        session->Shutdown();
      }
      qb::SockShutdown(clientEnd, qb::kShutSend);
    });
  } else {
    qb::fuzz::SendAll(clientEnd, data, size);
    qb::SockShutdown(clientEnd, qb::kShutSend);
  }

  // A short budget: with raw bytes the client never answers.
  const bool accepted = socket.SslAccept(setup.server.get(), realClient ? 5000 : 50);
  if (realClient && !accepted) std::abort();
  const std::string sent(reinterpret_cast<const char*>(data), size);
  if (accepted) {
    if (lines) {
      const std::vector<std::string> expected = NonEmptyLines(sent);
      std::vector<char> buffer(30000);
      size_t matched = 0;
      int result;
      while ((result = socket.LineRecv(buffer.data(), static_cast<int>(buffer.size()))) >= 0) {
        const std::string line(buffer.data(), static_cast<size_t>(result));
        if (buffer[result] != '\0') std::abort();
        if (result == 0) continue;
        if (realClient && (matched >= expected.size() || expected[matched] != line)) {
          std::abort();
        }
        ++matched;
      }
    } else {
      qb::MemorySaveFile file(nullptr);
      const bool complete = socket.RecvBinaryFile(&file);
      std::string kept(file.GetSize(), '\0');
      file.ReadAll(kept.data());
      if (realClient) {
        if (kept.size() > sent.size() || sent.compare(0, kept.size(), kept) != 0) std::abort();
        if (!garbageAfter && (!complete || kept != sent)) std::abort();
      }
    }
  }
  // The server is done: closing its side ends a relay that still carries
  // pieces (its reads may have stopped at their time-out, with the pieces'
  // buffers full), and the back-carrier.
  socket.Close();
  if (relay.joinable()) relay.join();
  if (client.joinable()) client.join();
  if (realClient && !handshaken) std::abort();
  if (back.joinable()) back.join();
  qb::SockClose(clientEnd);
  if (relayEnd >= 0) {
    qb::SockClose(tlsEnd);
    qb::SockClose(relayEnd);
  }
  return 0;
}
