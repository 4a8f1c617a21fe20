#include "tools/sendscan/printer_link.h"

#include <cstring>

#include "platform/crypto.h"
#include "platform/net.h"

namespace qb::sendscan {
namespace {

std::string GreetingInWords(const uint8_t g[4]) {
  if (std::memcmp(g, "OK\0\x05", 4) == 0) return "accepted";
  if (std::memcmp(g, "NG\0\x15", 4) == 0) return "refused: too many jobs";
  if (std::memcmp(g, "NG\0\x01", 4) == 0) return "refused: the receiver's disk is full";
  return "unknown greeting";
}

}  // namespace

void ApplyDirectCipher(const std::string& keyText, uint8_t* data, size_t length) {
  uint8_t digest[20];
  Sha1(keyText.data(), keyText.size(), digest);
  Rc4Apply(digest, 16, data, length);
}

PrinterLink::~PrinterLink() { Close(); }

void PrinterLink::Close() {
  if (socket_ >= 0) SockClose(socket_);
  socket_ = -1;
}

bool PrinterLink::Open(const std::string& host, const std::string& source, uint16_t port,
                       int timeoutMs, std::string* error) {
  uint32_t remote = 0;
  uint32_t local = 0;
  std::string address = host;
  if (!ParseDottedAddress(address.c_str(), &remote)) {
    address = FirstAddressOfHost(host);
    if (!ParseDottedAddress(address.c_str(), &remote)) {
      *error = "cannot resolve " + host;
      return false;
    }
  }
  if (!source.empty() && !ParseDottedAddress(source.c_str(), &local)) {
    *error = "the source address " + source + " is not a dotted IPv4 address";
    return false;
  }
  socket_ = TcpConnect(remote, port, local);
  if (socket_ < 0) {
    *error = "cannot connect to " + address + ":" + std::to_string(port) + " (error " +
             std::to_string(LastSocketError()) + ")";
    return false;
  }
  source_ = source;
  uint8_t greeting[4];
  if (!ReadExactly(greeting, 4, timeoutMs)) {
    *error =
        "no greeting from the receiver: it closed the connection, or it has locked this "
        "address out for about 5 minutes (try --source 127.0.0.N)";
    return false;
  }
  std::string words = GreetingInWords(greeting);
  if (words != "accepted") {
    *error = "connection " + words;
    return false;
  }
  return true;
}

bool PrinterLink::Send(const Bytes& body) {
  Bytes framed(body.size() + 2);
  framed[0] = static_cast<uint8_t>(body.size() >> 8);
  framed[1] = static_cast<uint8_t>(body.size());
  std::memcpy(framed.data() + 2, body.data(), body.size());
  if (enciphered()) ApplyDirectCipher(keyText_, framed.data() + 2, body.size());
  return SendFramed(framed.data(), framed.size());
}

bool PrinterLink::SendFramed(const uint8_t* data, size_t length) {
  while (length > 0) {
    long put = SockSend(socket_, data, length);
    if (put <= 0) return false;
    data += put;
    length -= static_cast<size_t>(put);
  }
  return true;
}

bool PrinterLink::Receive(Bytes* body, int timeoutMs) {
  return ReceiveWithKey(body, timeoutMs, keyText_);
}

bool PrinterLink::ReceiveWithKey(Bytes* body, int timeoutMs, const std::string& keyText) {
  uint8_t header[2];
  if (!ReadExactly(header, 2, timeoutMs)) return false;
  body->assign(static_cast<size_t>(header[0] << 8 | header[1]), 0);
  if (!ReadExactly(body->data(), body->size(), timeoutMs)) return false;
  if (!keyText.empty()) ApplyDirectCipher(keyText, body->data(), body->size());
  return true;
}

bool PrinterLink::ReadExactly(uint8_t* data, size_t length, int timeoutMs) {
  while (length > 0) {
    if (!WaitReadable(socket_, timeoutMs)) return false;
    long got = SockRecv(socket_, data, length);
    if (got <= 0) return false;
    data += got;
    length -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace qb::sendscan
