// A job record for calling protocol handlers directly, as the dispatcher
// would: buffers as the connection server allocates them, a socket pair
// whose far end takes the replies (emptied after every input), and a
// server without listeners on a hand-moved clock, which hears of each
// reply sent.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/event_loop.h"
#include "platform/fault_env.h"
#include "platform/net.h"
#include "scanproto/scan_job.h"
#include "scanproto/scan_server.h"

namespace qb::fuzz {

class HandlerJob {
 public:
  explicit HandlerJob(uint16_t listenPort) : listenPort_(listenPort) {
    if (!StreamSocketPair(pair_, true)) std::abort();
    env_.SetFreeBytes(uint64_t{1} << 40);
    if (!server_.Start(false)) std::abort();
    link_ = LoopSocket(loop_, pair_[1]);
  }

  // The record as a fresh connection from `peerIp` has it.
  ScanJob& Fresh(const char* peerIp) {
    job_.Clear();
    job_.socket = pair_[1];
    job_.link = &link_;
    job_.context = &server_;
    job_.listenPort = listenPort_;
    job_.state = kStateGreeted;
    std::strncpy(job_.peerIp, peerIp, sizeof job_.peerIp - 1);
    return job_;
  }

  // Throws away the replies of the last input.
  void DrainReplies() {
    uint8_t scrap[65536];
    while (SockRecv(pair_[0], scrap, sizeof scrap) > 0) {
    }
  }

 private:
  FaultEnv env_;
  EventLoop loop_{env_};
  ScanServer server_{loop_, env_, ReceiverEvents{}, RunDocumentWorkInline};
  ScanJob job_{env_};
  uint16_t listenPort_;
  int pair_[2] = {-1, -1};
  LoopSocket link_;  // the server's end, as a connection owns it
};

}  // namespace qb::fuzz
