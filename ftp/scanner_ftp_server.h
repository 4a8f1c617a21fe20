// The program's FTP server for scanners: who may Connect (an optional
// hardware-address check and a lock-out of addresses that keep failing to
// log in), and what all sessions share: meta data files waiting for their
// document, one-time tickets, and the delivery of stored files.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ftp/ftp_challenge.h"
#include "ftp/ftp_server.h"
#include "storage/receiver_events.h"
#include "storage/delivery.h"

namespace qb {

// FTP connection states published to the service library.
constexpr uint16_t kFtpStateIdle = 16;
constexpr uint16_t kFtpStateBusy = 17;
// A failed login counts against its address for this long after it.
constexpr int64_t kLoginFailureSeconds = 61;
// Failures within that time after which the address is refused.
constexpr int kLoginFailureLimit = 3;
// The shared lists hold at most this many entries each; beyond it the
// oldest goes, so a flood of clients cannot grow them without end.
constexpr size_t kMaxFtpBookkeeping = 10000;
// Meta data records are a few hundred bytes; a larger "meta" file is not
// kept in memory.
constexpr uint32_t kMaxMetaFileBytes = 1024 * 1024;
// Deliberate limits the original lacked: meta data held for all sessions
// together (beyond it a meta file is refused with 552), the share one
// client address may hold (beyond it its own oldest go, never another's),
// and how long an unpaired meta file or an unused ticket is kept.
constexpr uint64_t kMetaBudgetBytes = 64ull * 1024 * 1024;
constexpr uint64_t kMetaBytesPerAddress = 16ull * 1024 * 1024;
constexpr int64_t kMetaKeepSeconds = 30 * 60;
// Failed logins from all addresses within a minute after which every
// further PASS waits a second (traced).
constexpr int kGlobalFailureLimit = 20;
constexpr int64_t kGlobalFailureWindowSeconds = 60;
constexpr int kThrottledPassWaitMs = 1000;

// A meta data file that arrived in some session and waits for the document
// it belongs to.
struct FtpMetaEntry {
  std::vector<uint8_t> data;  // the whole file
  uint16_t destination = 0;   // the session's selected destination then
  std::string path;           // its local path, ending in its "@DBA@" name
  uint32_t address = 0;       // the client's, network byte order
  int64_t arrived = 0;        // wall seconds
};

class ScannerFtpServer : public FtpServer {
 public:
  ScannerFtpServer(ReceiverEvents events, Env& env);
  ~ScannerFtpServer() override;

  void OnSessionCountChanged(int count, int delta) override;
  bool AcceptClient(uint32_t address) override;
  std::unique_ptr<FtpSession> CreateSession(FtpSocket* control) override;
  void OnInit() override;
  void OnDispose() override;

  // --- for the sessions ---
  const ReceiverEvents& hooks() const { return hooks_; }
  // Counts a failed login (or refused destination) of `address` (network
  // byte order) at the server's wall clock.
  void RecordLoginFailure(uint32_t address);
  // False (the entry is dropped and traced) when the budget is spent.
  bool AddMetaEntry(std::unique_ptr<FtpMetaEntry> entry);
  // Whether logins now fail so often across all addresses that a PASS
  // must wait kThrottledPassWaitMs first.
  bool PassThrottled();
  // Removes every entry whose base name starts `fileName` and returns the
  // last of them (the others are destroyed); null when none matches.
  std::unique_ptr<FtpMetaEntry> TakeMetaEntryFor(const std::string& fileName);
  // A one-time password: the 40-digit answer of a session's challenge.
  void AddTicket(const char* answer);
  // True (and the ticket is gone) when `password` is a ticket, any case.
  bool UseTicket(const char* password);
  // The end of every stored document, shared with the scan protocol.
  const DocumentDelivery& delivery() const { return delivery_; }

  // --- for tests ---
  size_t MetaEntryCount();
  size_t TicketCount();
  size_t FailedLoginCount();

 private:
  struct FailedLogin {
    uint16_t count = 0;
    int64_t last = 0;  // seconds since 1970
  };

  ReceiverEvents hooks_;
  DocumentDelivery delivery_;
  // Guarded by GlobalLock.
  std::list<std::unique_ptr<FtpMetaEntry>> meta_entries_;
  struct Ticket {
    std::array<char, kAnswerDigits + 1> answer{};
    int64_t made = 0;  // wall seconds
  };
  // Drops meta entries and tickets older than kMetaKeepSeconds.
  void ExpireLocked(int64_t now);

  std::list<Ticket> tickets_;
  std::unordered_map<uint32_t, FailedLogin> failed_logins_;
  uint64_t meta_bytes_ = 0;
  std::deque<int64_t> recent_failures_;  // wall seconds, all addresses
};

}  // namespace qb
