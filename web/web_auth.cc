#include "web/web_auth.h"

#include "platform/crypto.h"
#include "web/web_request.h"

namespace qb {
namespace {

constexpr int64_t kSessionIdleSeconds = 12 * 3600;
constexpr size_t kMaxSessions = 64;
constexpr size_t kRandomBytes = 24;

}  // namespace

bool WebAuth::SameSecret(const std::string& a, const std::string& b) {
  return !a.empty() && a.size() == b.size() && ConstantTimeEqual(a.data(), b.data(), a.size());
}

std::string WebAuth::StartSession(const std::string& offered, int64_t now) {
  if (!SameSecret(offered, token_)) return {};
  const std::string id = RandomHex(kRandomBytes);
  const std::string csrf = RandomHex(kRandomBytes);
  if (id.empty() || csrf.empty()) return {};
  std::lock_guard<std::mutex> hold(mutex_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = now - it->second.lastUse > kSessionIdleSeconds ? sessions_.erase(it) : std::next(it);
  }
  while (sessions_.size() >= kMaxSessions) {
    auto oldest = sessions_.begin();
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (it->second.lastUse < oldest->second.lastUse) oldest = it;
    }
    sessions_.erase(oldest);
  }
  sessions_[id] = WebSession{csrf, now};
  return id;
}

std::string WebAuth::SessionCsrf(const std::string& cookieHeader, int64_t now) {
  const std::string id = CookieValue(cookieHeader, kSessionCookie);
  if (id.empty()) return {};
  std::lock_guard<std::mutex> hold(mutex_);
  // Looked up by comparing every id in constant time, so the time taken
  // does not tell how much of a guessed id was right.
  for (auto& [known, session] : sessions_) {
    if (!SameSecret(id, known)) continue;
    if (now - session.lastUse > kSessionIdleSeconds) return {};
    session.lastUse = now;
    return session.csrfToken;
  }
  return {};
}

bool WebAuth::ChangeAllowed(const std::string& cookieHeader, const std::string& csrfHeader,
                            int64_t now) {
  const std::string csrf = SessionCsrf(cookieHeader, now);
  return SameSecret(csrfHeader, csrf);
}

}  // namespace qb
