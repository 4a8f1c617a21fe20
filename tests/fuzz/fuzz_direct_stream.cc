// The direct port as a printer's panel uses it: the input is the plaintext
// of the length-framed requests (capability with key number, folder check,
// folder name, folder listing, anything); the driver enciphers each body
// with the connection's key, so the deciphering, the dispatcher and the
// handlers behind the cipher all see what the input says.
#include <cstdint>

#include "stream_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qb::fuzz::StreamDriver driver("[MANAGEMENT]\n");
  driver.DirectConversation(data, size);
  return 0;
}
