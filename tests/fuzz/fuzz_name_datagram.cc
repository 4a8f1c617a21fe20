// The name-resolve responder: the input is a run of datagrams, each as
// [sender byte][length, 2 bytes big-endian][datagram bytes], handed to the
// responder as its socket's read event would. The sender byte picks the
// address (10.0.0.N, or a broadcast or multicast address that no reply may
// go to). Nothing is sent: the responder's sends are dropped, and the fax
// hand-off only counted. Each input is a second of its own (a clock moved
// by hand). Stops (reports the input) when a notify from a unicast sender
// that the limits let through leaves it without an entry, when a reply
// would go to an address that may not be replied to, or when a second
// gets more replies than the limits allow (per sender or in all).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_root.h"
#include "nameservice/host_table.h"
#include "nameservice/name_datagram.h"
#include "nameservice/name_service.h"
#include "nameservice/request_limiter.h"
#include "platform/event_loop.h"
#include "platform/fault_env.h"
#include "platform/udp.h"

namespace {

constexpr uint32_t kForged[] = {0xFFFFFFFFu, 0xE0000001u, 0xEFFFFFFFu, 0u};

using Limiter = qb::RequestLimiter;

struct Responder {
  qb::fuzz::FuzzRoot root{"[RCVFAX]\nUSESMTP=0\n"};
  qb::FaultEnv env;
  qb::EventLoop loop{env};
  uint32_t replies[256] = {};  // this second's, by the sender byte
  uint32_t total = 0;
  Responder() {
    qb::NameServiceOptions options;
    options.port = 0;
    options.ownName = "FuzzPc.example";  // cut at the dot by the server, not here
    options.redirect = [this](uint32_t* address, uint16_t*) {
      if (qb::IsNeverUnicast(*address)) std::abort();
      if (++replies[*address & 0xFF] > Limiter::kPerAddressPerSecond) std::abort();
      if (++total > Limiter::kTotalPerSecond) std::abort();
      return false;
    };
    // A hand-off counts against the same limits as a reply.
    options.faxHandOff = [this](const char*, const char* ip) {
      uint32_t address = 0;
      if (!qb::ParseDottedAddress(ip, &address)) std::abort();
      if (++replies[address & 0xFF] > Limiter::kPerAddressPerSecond) std::abort();
      if (++total > Limiter::kTotalPerSecond) std::abort();
    };
    options.now = [] {
      qb::LocalDateTime when;
      when.year = 2024, when.month = 3, when.day = 1, when.hour = 12;
      return when;
    };
    qb::OpenNameService(loop, std::move(options));
  }
};

Responder& Service() {
  static Responder responder;
  return responder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Responder& service = Service();
  service.env.AdvanceMs(1000);
  std::memset(service.replies, 0, sizeof service.replies);
  service.total = 0;
  static unsigned inputs = 0;
  size_t at = 0;
  while (at + 3 <= size) {
    const uint8_t selector = data[at];
    size_t length = static_cast<size_t>(data[at + 1]) << 8 | data[at + 2];
    at += 3;
    if (length > size - at) length = size - at;
    const uint32_t sender = selector >= 0xFC ? kForged[selector - 0xFC] : 0x0A000000u + selector;
    const bool withinLimits = service.replies[selector] < Limiter::kPerAddressPerSecond &&
                              service.total < Limiter::kTotalPerSecond;
    qb::HandleNameDatagram(data + at, length, sender, 37010);

    uint8_t padded[qb::kNameDatagramBytes] = {};
    std::memcpy(padded, data + at, length < sizeof padded ? length : sizeof padded);
    qb::NameDatagram parsed;
    qb::ParseNameDatagram(padded, &parsed);
    // The sender now has an entry; which of its names comes first is the
    // list order's business (an address may keep an earlier name too).
    if (parsed.command == qb::kNameNotifyReq && !qb::IsNeverUnicast(sender) && withinLimits) {
      char name[qb::kNameFieldBytes + 1];
      const std::string ip = qb::DottedAddress(sender);
      if (!qb::LookupHostName(ip.c_str(), name, sizeof name)) std::abort();
    }
    at += length;
  }
  // The save (with its file merge) now and then, not at every input.
  if (++inputs % 64 == 0) qb::SaveHostTable();
  return 0;
}
