#include "scanproto/cipher.h"

#include <cstdio>

#include "platform/crypto.h"
#include "platform/trace.h"

namespace qb {

int CipherBody(const std::string& keyText, uint8_t* buffer, size_t length, int direction) {
  uint8_t digest[20];
  if (!Sha1(keyText.data(), keyText.size(), digest)) {
    TraceLog("CryptHashData error\n");
    return 0;
  }
  // RC4 is symmetric; both directions apply the same key stream.
  if (!Rc4Apply(digest, 16, buffer, length)) {
    TraceLog(direction == kEncipher ? "CryptEncrypt error\n" : "CryptDecrypt error\n");
    return 0;
  }
  return 1;
}

std::string CipherKeyText(const ScanJob& job) {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%s-%d", job.clientKeyNo, job.peerIp, job.serverKeyNo);
  return text;
}

std::string CipherKeyTextServerZero(const ScanJob& job) {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%s-%d", job.clientKeyNo, job.peerIp, 0);
  return text;
}

}  // namespace qb
