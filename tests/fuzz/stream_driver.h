// Drives the scan server in this process with one printer conversation per
// fuzz input. The server runs without listeners on a hand-moved clock; each
// conversation is one end of an AF_UNIX stream socket pair handed to it as
// a connection accepted on the job or direct port, the other end plays the
// printer: it writes the input, reads every reply, and hangs up. Between
// writes the event loop runs until nothing moves any more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_root.h"
#include "platform/event_loop.h"
#include "platform/fault_env.h"
#include "scanproto/scan_server.h"

namespace qb::fuzz {

class StreamDriver {
 public:
  // `settings` is the text of the settings file of the driver's root.
  explicit StreamDriver(const std::string& settings);
  ~StreamDriver();

  // Job port: the input is the printer's byte stream, written in pieces
  // whose sizes follow from the input (so that length fields and bodies
  // also arrive split).
  void JobConversation(const uint8_t* data, size_t size);

  // Direct port: the input is the plaintext the printer means to send, as
  // length-framed bodies; each body is enciphered as a printer would, with
  // the key of the connection as it stands after the previous body.
  void DirectConversation(const uint8_t* data, size_t size);

  const FuzzRoot& root() const { return root_; }

 private:
  void Open(uint16_t port);
  // Writes all of `bytes` (running the loop while the socket is full);
  // false once the server no longer takes anything.
  bool Write(const uint8_t* bytes, size_t size);
  void PumpUntilQuiet();
  void Close();
  void ReadReplies();
  // With QB_FUZZ_SHOW set: what the conversation stored, on standard error.
  void Show() const;
  // Stops the run when the conversation created a file at the top of the
  // file system (a folder path that came out empty), the one place outside
  // the root that a lost folder leads to.
  void CheckTopFolder() const;
  // Stops the run when a temporary page file or a staging file outlived the
  // connection that wrote it.
  void CheckNothingLeftBehind() const;

  FuzzRoot root_;
  FaultEnv env_;
  EventLoop loop_{env_};
  ScanServer scanServer_;  // every document step within the packet that starts it
  int printer_ = -1;       // the printer's end
  int server_ = -1;        // the end handed to the server
  bool serverGone_ = false;
  bool show_ = false;
  size_t replyBytes_ = 0;
  std::string replies_;   // kept with QB_FUZZ_SHOW only
  int64_t started_ = 0;   // wall clock at the start of the conversation, ns
  int64_t topStamp_ = 0;  // modification time of "/" then, ns
};

// Peer address of every conversation: a 127.x address other than
// 127.0.0.1, which cannot be classified and is therefore served.
constexpr char kPeerIp[] = "127.0.0.2";
constexpr uint32_t kPeerAddress = 0x7F000002;

}  // namespace qb::fuzz
