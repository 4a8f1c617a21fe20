// One connection of the simulated printer: connects from a chosen source
// address, checks the greeting, and sends and receives length-framed
// message bodies, enciphering them on the direct port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb::sendscan {

using Bytes = std::vector<uint8_t>;

class PrinterLink {
 public:
  PrinterLink() = default;
  ~PrinterLink();
  PrinterLink(const PrinterLink&) = delete;
  PrinterLink& operator=(const PrinterLink&) = delete;

  // Connects and reads the 4-byte greeting. False with `error` set when the
  // connection fails or the receiver refuses it (its greeting in words).
  bool Open(const std::string& host, const std::string& source, uint16_t port, int timeoutMs,
            std::string* error);

  // Direct port: every later body is enciphered with this key text.
  void SetKeyText(const std::string& keyText) { keyText_ = keyText; }
  bool enciphered() const { return !keyText_.empty(); }

  bool Send(const Bytes& body);
  // Sends bytes that are already framed (image data in bulk).
  bool SendFramed(const uint8_t* data, size_t length);
  // Waits up to timeoutMs for one whole body; false on time-out or close.
  bool Receive(Bytes* body, int timeoutMs);
  // The same, deciphering with `keyText` instead of the link's own key.
  bool ReceiveWithKey(Bytes* body, int timeoutMs, const std::string& keyText);

  // Drops the connection at once.
  void Close();

  const std::string& source() const { return source_; }

 private:
  bool ReadExactly(uint8_t* data, size_t length, int timeoutMs);

  int socket_ = -1;
  std::string source_;
  std::string keyText_;
};

// RC4 keyed with the first 16 bytes of the SHA-1 digest of the key text.
void ApplyDirectCipher(const std::string& keyText, uint8_t* data, size_t length);

}  // namespace qb::sendscan
