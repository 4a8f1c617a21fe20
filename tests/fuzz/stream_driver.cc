#include "stream_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/net.h"
#include "platform/socket_queue.h"
#include "scanproto/access_lock.h"
#include "scanproto/cipher.h"

namespace qb::fuzz {
namespace {

// Rounds of the loop without progress that count as quiet, and the most
// rounds a conversation may take before the driver calls it stuck.
constexpr int kQuietRounds = 2;
constexpr int kMaxRounds = 20000;

uint16_t Be16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

}  // namespace

StreamDriver::StreamDriver(const std::string& settings)
    : root_(settings),
      scanServer_(loop_, env_, ReceiverEvents{}, RunDocumentWorkInline),
      show_(std::getenv("QB_FUZZ_SHOW") != nullptr) {
  env_.SetFreeBytes(uint64_t{1} << 40);
  if (!scanServer_.Start(false)) std::abort();
  env_.AdvanceMs(10);  // the server's start-up timer
  loop_.RunOnce(0);
}

StreamDriver::~StreamDriver() { scanServer_.Stop(); }

void StreamDriver::Open(uint16_t port) {
  // A peer locked out by an earlier input would be turned away at once.
  ClearLockedClients();
  root_.ClearDocuments();
  int pair[2];
  if (!StreamSocketPair(pair, true)) std::abort();
  printer_ = pair[0];
  server_ = pair[1];
  serverGone_ = false;
  replyBytes_ = 0;
  topStamp_ = 0;
  EntryModified("/", &topStamp_, nullptr);
  started_ = WallClockNs();
  replies_.clear();
  scanServer_.AdoptConnection(server_, port, kPeerAddress);
  PumpUntilQuiet();  // the greeting
}

void StreamDriver::ReadReplies() {
  uint8_t scrap[65536];
  for (long got; (got = SockRecv(printer_, scrap, sizeof scrap)) > 0;) {
    replyBytes_ += static_cast<size_t>(got);
    if (show_) replies_.append(reinterpret_cast<const char*>(scrap), static_cast<size_t>(got));
  }
}

void StreamDriver::PumpUntilQuiet() {
  int quiet = 0;
  for (int round = 0; round < kMaxRounds; ++round) {
    loop_.RunOnce(0);
    if (!serverGone_ && scanServer_.FindJob(server_) == nullptr) serverGone_ = true;
    const int unread = serverGone_ ? 0 : UnreadBytes(server_);
    const int replies = UnreadBytes(printer_);
    ReadReplies();
    if (unread == 0 && replies == 0) {
      if (++quiet >= kQuietRounds) return;
    } else {
      quiet = 0;
    }
  }
  std::abort();  // the server neither reads nor stops: a stuck connection
}

bool StreamDriver::Write(const uint8_t* bytes, size_t size) {
  for (size_t at = 0; at < size;) {
    long put = SockSend(printer_, bytes + at, size - at);
    if (put > 0) {
      at += static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && LastSocketError() != kWsaEWouldBlock) return false;  // shut down
    if (serverGone_) return false;
    PumpUntilQuiet();
  }
  return true;
}

void StreamDriver::Close() {
  SockClose(printer_);
  printer_ = -1;
  for (int round = 0; round < kMaxRounds && !serverGone_; ++round) {
    loop_.RunOnce(0);
    if (scanServer_.FindJob(server_) == nullptr) serverGone_ = true;
  }
  // A connection whose peer has hung up must end.
  if (!serverGone_ || scanServer_.FirstJob() != nullptr || scanServer_.JobCount() != 0) {
    std::abort();
  }
  if (show_) Show();
  CheckTopFolder();
  CheckNothingLeftBehind();
}

void StreamDriver::CheckNothingLeftBehind() const {
  std::error_code error;
  for (std::filesystem::directory_iterator it(root_.TempFolder(), error), end; !error && it != end;
       it.increment(error)) {
    std::fprintf(stderr, "temporary file left behind: %s\n", it->path().c_str());
    std::abort();
  }
  for (int number : {1, 2}) {
    for (std::filesystem::recursive_directory_iterator it(root_.Destination(number), error), end;
         !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (name.rfind(".qbx-", 0) == 0) {
        std::fprintf(stderr, "staging file left behind: %s\n", it->path().c_str());
        std::abort();
      }
    }
  }
}

void StreamDriver::CheckTopFolder() const {
  int64_t top = 0;
  if (!EntryModified("/", &top, nullptr)) return;
  if (top == topStamp_) return;
  std::error_code error;
  for (std::filesystem::directory_iterator it("/", error), end; !error && it != end;
       it.increment(error)) {
    int64_t modified = 0;
    bool regular = false;
    if (EntryModified(it->path().string(), &modified, &regular) && regular &&
        modified >= started_) {
      std::fprintf(stderr, "the conversation wrote %s\n", it->path().c_str());
      std::abort();
    }
  }
}

void StreamDriver::Show() const {
  std::fprintf(stderr, "conversation: %zu reply bytes\n", replyBytes_);
  // After the 4-byte greeting: length-framed replies, shown by their first
  // three words (enciphered on the direct port).
  for (size_t at = 4; at + 2 <= replies_.size();) {
    const auto* frame = reinterpret_cast<const uint8_t*>(replies_.data() + at);
    const size_t length = Be16(frame);
    std::fprintf(stderr, "  reply %zu bytes:", length);
    for (size_t i = 0; i < 6 && i + 1 < length && at + 3 + i < replies_.size(); i += 2) {
      std::fprintf(stderr, " %04x", Be16(frame + 2 + i));
    }
    std::fprintf(stderr, "\n");
    at += 2 + length;
  }
  for (int number : {1, 2}) {
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(root_.Destination(number), error), end;
         !error && it != end; it.increment(error)) {
      if (it->is_regular_file()) {
        std::fprintf(stderr, "  stored %s (%ju bytes)\n", it->path().c_str(),
                     static_cast<uintmax_t>(it->file_size()));
      }
    }
  }
  std::ifstream log(root_.ReceiveLog());
  for (std::string line; std::getline(log, line);)
    std::fprintf(stderr, "  log: %s\n", line.c_str());
}

void StreamDriver::JobConversation(const uint8_t* data, size_t size) {
  Open(kJobPort);
  // Piece sizes from a small generator seeded by the input: mostly whole
  // runs of bytes, now and then a split inside a length field or a body.
  uint32_t state = static_cast<uint32_t>(size) * 2654435761u + 1;
  for (size_t at = 0; at < size && !serverGone_;) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    size_t piece = state % 4 == 0 ? 1 + state % 7 : 1 + state % 16384;
    piece = std::min(piece, size - at);
    if (!Write(data + at, piece)) break;
    at += piece;
    PumpUntilQuiet();
  }
  Close();
}

void StreamDriver::DirectConversation(const uint8_t* data, size_t size) {
  Open(kDirectPort);
  std::vector<uint8_t> frame;
  for (size_t at = 0; at < size && !serverGone_;) {
    if (size - at < 2) {
      Write(data + at, size - at);  // half a length field
      break;
    }
    const uint16_t length = Be16(data + at);
    frame.assign(data + at, data + at + 2);
    at += 2;
    // Lengths the server skips or refuses carry no body of their own.
    if (length != 0 && length != 2 && length <= kMaxRxBody) {
      const size_t take = std::min<size_t>(length, size - at);
      frame.insert(frame.end(), data + at, data + at + take);
      at += take;
      if (const ScanJob* job = scanServer_.FindJob(server_)) {
        CipherBody(CipherKeyText(*job), frame.data() + 2, frame.size() - 2, kEncipher);
      }
    }
    if (!Write(frame.data(), frame.size())) break;
    PumpUntilQuiet();
  }
  Close();
}

}  // namespace qb::fuzz
