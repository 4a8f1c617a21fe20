// The scan server in this process on a hand-moved clock, with a printer
// client that connects from a chosen loopback address and exchanges whole
// message bodies (enciphered on the direct port).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/fault_env.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "scanproto/access_lock.h"
#include "scanproto/cipher.h"
#include "scanproto/scan_server.h"
#include "server_fixture.h"

namespace qb::test {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes* body, size_t at, uint16_t value) {
  if (body->size() < at + 2) body->resize(at + 2, 0);
  (*body)[at] = static_cast<uint8_t>(value >> 8);
  (*body)[at + 1] = static_cast<uint8_t>(value);
}
inline uint16_t Get16(const Bytes& body, size_t at) {
  return at + 2 <= body.size() ? static_cast<uint16_t>(body[at] << 8 | body[at + 1]) : 0xDEAD;
}
inline uint32_t Get32(const Bytes& body, size_t at) {
  return static_cast<uint32_t>(Get16(body, at)) << 16 | Get16(body, at + 2);
}

// A message of big-endian words.
inline Bytes Words(std::initializer_list<uint16_t> words) {
  Bytes body;
  for (uint16_t word : words) Put16(&body, body.size(), word);
  return body;
}

// The first `words` words of a reply.
inline Bytes Head(const Bytes& body, size_t words) {
  return Bytes(body.begin(), body.begin() + static_cast<long>(std::min(body.size(), 2 * words)));
}

class ScanClientTest : public ServerTest {
 protected:
  // Connects and takes the greeting.
  void Connect(uint16_t port, const char* from = kPrinterIp) {
    fd_ = OpenClient(port, from);
    ASSERT_GE(fd_, 0);
    ip_ = from;
    ASSERT_EQ(ReceiveRaw(4), std::string("OK\0\x05", 4));
  }

  // The one job of the connection.
  ScanJob& Job() { return *server_->FirstJob(); }

  void Send(Bytes body) {
    if (!key_.empty()) CipherBody(key_, body.data(), body.size(), kEncipher);
    SendRaw(fd_, Frame(std::string(body.begin(), body.end())));
    Pump();
  }

  // The next reply body, deciphered with `key` (default: the link's key).
  Bytes Reply(const std::string* key = nullptr) {
    std::string head = ReceiveRaw(2);
    if (head.size() < 2) return {};
    size_t length = static_cast<uint8_t>(head[0]) << 8 | static_cast<uint8_t>(head[1]);
    std::string text = ReceiveRaw(length);
    Bytes body(text.begin(), text.end());
    const std::string& k = key != nullptr ? *key : key_;
    if (!k.empty()) CipherBody(k, body.data(), body.size(), kDecipher);
    return body;
  }

  // Runs the direct port's capability exchange, which fixes the key numbers.
  Bytes DirectHandshake(uint16_t major = 3, uint16_t minor = 0, uint16_t clientKey = 77) {
    key_ = "0-" + ip_ + "-0";
    Send(Words({0x3400, major, minor, clientKey}));
    std::string replyKey = std::to_string(clientKey) + "-" + ip_ + "-0";
    Bytes reply = Reply(&replyKey);
    key_ = std::to_string(clientKey) + "-" + ip_ + "-" + std::to_string(Get16(reply, 14));
    return reply;
  }

  std::string ReceiveRaw(size_t n) { return Receive(fd_, n); }

  // Destination list lines "number;folder;;code;" with folders made under
  // the test root.
  std::string MakeFolder(const std::string& name) {
    std::string folder = root_.path() + "/" + name;
    std::filesystem::create_directories(folder);
    return folder;
  }
  void WriteDestinations(const std::string& text) {
    std::ofstream(root_.DataDir() + "/tvscan_f.bin", std::ios::trunc) << text;
  }

  int fd_ = -1;
  std::string ip_;
  std::string key_;
};

}  // namespace qb::test
