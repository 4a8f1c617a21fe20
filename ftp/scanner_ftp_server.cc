#include "ftp/scanner_ftp_server.h"

#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "ftp/scanner_ftp_session.h"
#include "ftp/scanner_paths.h"
#include "platform/crypto.h"
#include "platform/global_lock.h"
#include "platform/trace.h"

namespace qb {
namespace {

// Classes of the hardware-address check that may connect.
constexpr int kClassGroupA = 2;
constexpr int kClassGroupB = 3;
constexpr int kClassUndetermined = 99;

}  // namespace

ScannerFtpServer::ScannerFtpServer(ReceiverEvents hooks, Env& env)
    : FtpServer(env), hooks_(std::move(hooks)), delivery_(env, hooks_) {}

// The server thread must be gone before the lists it shares go.
ScannerFtpServer::~ScannerFtpServer() {
  Stop();
  for (auto& ticket : tickets_) SecureZero(ticket.answer.data(), ticket.answer.size());
}

void ScannerFtpServer::OnSessionCountChanged(int count, int /*delta*/) {
  GlobalLockGuard lock;
  if (hooks_.connectionState) hooks_.connectionState(count != 0 ? kFtpStateBusy : kFtpStateIdle);
}

bool ScannerFtpServer::AcceptClient(uint32_t address) {
  // The hardware-address check may wait up to a second for an ARP answer,
  // so it runs before the lock is taken (the original held it throughout):
  // the scan road's log and list writes, which take the same lock on the
  // event loop, never wait for a printer's ARP reply.
  if (GetMACAddressCheck() != 0) {
    const auto* octet = reinterpret_cast<const uint8_t*>(&address);
    char text[20];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", octet[0], octet[1], octet[2], octet[3]);
    const int peerClass = hooks_.classifyPeer ? hooks_.classifyPeer(text) : 0;
    if (peerClass != kClassGroupA && peerClass != kClassGroupB && peerClass != kClassUndetermined) {
      return false;
    }
  }
  GlobalLockGuard lock;
  const auto found = failed_logins_.find(address);
  if (found == failed_logins_.end()) return true;
  if (env().WallSeconds() >= found->second.last + kLoginFailureSeconds) {
    failed_logins_.erase(found);
    return true;
  }
  return found->second.count < kLoginFailureLimit;
}

std::unique_ptr<FtpSession> ScannerFtpServer::CreateSession(FtpSocket* control) {
  return std::make_unique<ScannerFtpSession>(this, control);
}

void ScannerFtpServer::OnInit() { FtpLog("ScannerFtpServer::onInit"); }

void ScannerFtpServer::OnDispose() { FtpLog("ScannerFtpServer::onDispose"); }

void ScannerFtpServer::RecordLoginFailure(uint32_t address) {
  GlobalLockGuard lock;
  const int64_t now = env().WallSeconds();
  // Every address's failures together, for the limit across addresses
  // (kept to what that limit needs).
  recent_failures_.push_back(now);
  while (recent_failures_.size() > static_cast<size_t>(kGlobalFailureLimit) * 4) recent_failures_.pop_front();
  auto found = failed_logins_.find(address);
  if (found == failed_logins_.end()) {
    if (failed_logins_.size() >= kMaxFtpBookkeeping) {
      // Expired entries first; then the one that failed longest ago.
      std::erase_if(failed_logins_, [now](const auto& entry) {
        return now >= entry.second.last + kLoginFailureSeconds;
      });
      if (failed_logins_.size() >= kMaxFtpBookkeeping) {
        auto oldest = failed_logins_.begin();
        for (auto it = failed_logins_.begin(); it != failed_logins_.end(); ++it) {
          if (it->second.last < oldest->second.last) oldest = it;
        }
        failed_logins_.erase(oldest);
      }
    }
    failed_logins_[address] = FailedLogin{1, now};
    return;
  }
  FailedLogin& entry = found->second;
  if (now >= entry.last + kLoginFailureSeconds) {
    entry.count = 1;
  } else if (entry.count < 0xFFFF) {
    ++entry.count;
  }
  entry.last = now;
}

void ScannerFtpServer::ExpireLocked(int64_t now) {
  for (auto it = meta_entries_.begin(); it != meta_entries_.end();) {
    if (now - (*it)->arrived >= kMetaKeepSeconds || now < (*it)->arrived) {
      meta_bytes_ -= (*it)->data.size();
      it = meta_entries_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = tickets_.begin(); it != tickets_.end();) {
    if (now - it->made >= kMetaKeepSeconds || now < it->made) {
      SecureZero(it->answer.data(), it->answer.size());
      it = tickets_.erase(it);
    } else {
      ++it;
    }
  }
}

bool ScannerFtpServer::AddMetaEntry(std::unique_ptr<FtpMetaEntry> entry) {
  GlobalLockGuard lock;
  const int64_t now = env().WallSeconds();
  entry->arrived = now;
  ExpireLocked(now);
  const uint64_t size = entry->data.size();
  // The client's own oldest entries make room for its new one.
  uint64_t own = size;
  for (const auto& held : meta_entries_) {
    if (held->address == entry->address) own += held->data.size();
  }
  for (auto it = meta_entries_.begin(); it != meta_entries_.end() && own > kMetaBytesPerAddress;) {
    if ((*it)->address == entry->address) {
      own -= (*it)->data.size();
      meta_bytes_ -= (*it)->data.size();
      it = meta_entries_.erase(it);
    } else {
      ++it;
    }
  }
  if (meta_bytes_ + size > kMetaBudgetBytes || meta_entries_.size() >= kMaxFtpBookkeeping) {
    TraceLog("FTP meta data refused: %zu entries with %llu bytes are waiting for their documents.",
             meta_entries_.size(), static_cast<unsigned long long>(meta_bytes_));
    return false;
  }
  meta_bytes_ += size;
  meta_entries_.push_back(std::move(entry));
  return true;
}

std::unique_ptr<FtpMetaEntry> ScannerFtpServer::TakeMetaEntryFor(const std::string& fileName) {
  GlobalLockGuard lock;
  ExpireLocked(env().WallSeconds());
  std::unique_ptr<FtpMetaEntry> paired;
  for (auto it = meta_entries_.begin(); it != meta_entries_.end();) {
    const std::string base = MetaBaseName((*it)->path);
    if (fileName.compare(0, base.size(), base) == 0) {
      meta_bytes_ -= (*it)->data.size();
      paired = std::move(*it);  // a later match replaces (and destroys) an earlier one
      it = meta_entries_.erase(it);
    } else {
      ++it;
    }
  }
  return paired;
}

void ScannerFtpServer::AddTicket(const char* answer) {
  GlobalLockGuard lock;
  const int64_t now = env().WallSeconds();
  ExpireLocked(now);
  Ticket ticket;
  ticket.made = now;
  std::snprintf(ticket.answer.data(), ticket.answer.size(), "%s", answer);
  tickets_.push_back(ticket);
  SecureZero(ticket.answer.data(), ticket.answer.size());
  while (tickets_.size() > kMaxFtpBookkeeping) {
    SecureZero(tickets_.front().answer.data(), tickets_.front().answer.size());
    tickets_.pop_front();
  }
}

bool ScannerFtpServer::UseTicket(const char* password) {
  GlobalLockGuard lock;
  ExpireLocked(env().WallSeconds());
  for (auto it = tickets_.begin(); it != tickets_.end(); ++it) {
    if (AnswerMatches(password, it->answer.data())) {
      SecureZero(it->answer.data(), it->answer.size());
      tickets_.erase(it);
      return true;
    }
  }
  return false;
}

bool ScannerFtpServer::PassThrottled() {
  GlobalLockGuard lock;
  const int64_t now = env().WallSeconds();
  while (!recent_failures_.empty() &&
         (now - recent_failures_.front() >= kGlobalFailureWindowSeconds || now < recent_failures_.front())) {
    recent_failures_.pop_front();
  }
  return recent_failures_.size() >= static_cast<size_t>(kGlobalFailureLimit);
}

size_t ScannerFtpServer::MetaEntryCount() {
  GlobalLockGuard lock;
  return meta_entries_.size();
}

size_t ScannerFtpServer::TicketCount() {
  GlobalLockGuard lock;
  return tickets_.size();
}

size_t ScannerFtpServer::FailedLoginCount() {
  GlobalLockGuard lock;
  return failed_logins_.size();
}

}  // namespace qb
