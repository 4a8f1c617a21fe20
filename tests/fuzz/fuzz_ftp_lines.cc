// The FTP control connection's line reader: the input (after one control
// byte) is what a client sends before it hangs up; it goes through a socket
// pair into LineRecv with the buffer size the control byte picks.
// Stops when
//   - a returned length exceeds size - 1, the line is not NUL-terminated
//     there, or it holds a line end (a NUL byte from the client may sit
//     inside the line: the length counts it);
//   - the non-empty lines returned are not, in order, the input's non-empty
//     lines (split at CR and LF);
//   - the reader ends with "peer closed" while a complete line of the
//     input that fits the buffer was never returned (the close is seen
//     with bytes unread, so a line too long for the buffer may end so).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ftp/ftp_socket.h"
#include "ftp_socket_pair.h"
#include "fuzz_root.h"
#include "platform/net.h"

namespace {

qb::fuzz::FuzzRoot& Root() {
  static qb::fuzz::FuzzRoot root("");
  return root;
}

constexpr int kSizes[] = {1, 2, 3, 5, 8, 64, 300, 30000};

// The input's lines that end with CR or LF and hold something.
std::vector<std::string> CompleteLines(const uint8_t* data, size_t size) {
  std::vector<std::string> lines;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\r' || data[i] == '\n') {
      if (!current.empty()) lines.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Root();
  if (size < 1) return 0;
  const int bufferSize = kSizes[data[0] & 7];
  // Bit 3: a second, different size for every other call.
  const int otherSize = (data[0] & 8) != 0 ? kSizes[(data[0] >> 4) & 7] : bufferSize;
  ++data;
  --size;

  static qb::FtpRunning running;
  qb::FtpSocket socket(&running, qb::Env::Default());
  const int client = qb::fuzz::AttachClientEnd(socket);
  // The whole input is in the socket before the first read: the reader
  // sees the close only after what came before it.
  if (!qb::fuzz::SendAll(client, data, size)) std::abort();
  qb::SockShutdown(client, qb::kShutSend);

  const std::vector<std::string> expected = CompleteLines(data, size);
  std::vector<char> buffer(30001);
  size_t matched = 0;
  int result = 0;
  int limit = bufferSize;
  for (int call = 0;; ++call) {
    limit = (call & 1) != 0 ? otherSize : bufferSize;
    result = socket.LineRecv(buffer.data(), limit);
    if (result < 0) break;
    if (result > limit - 1) std::abort();
    const std::string line(buffer.data(), static_cast<size_t>(result));
    if (buffer[result] != '\0') std::abort();
    if (line.find_first_of("\r\n") != std::string::npos) std::abort();
    if (result == 0) continue;
    if (matched >= expected.size() || expected[matched] != line) std::abort();
    ++matched;
  }
  if (result == qb::kFtpTimedOut) std::abort();  // no time-out was set, nobody stopped
  if (result == qb::kFtpPeerClosed && matched != expected.size() &&
      expected[matched].size() <= static_cast<size_t>(limit) - 1) {
    std::abort();
  }
  qb::SockClose(client);
  return 0;
}
