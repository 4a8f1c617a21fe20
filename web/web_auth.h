// Who may use the page: whoever can read the token in the program's
// group's secret file (quillbox-config web-url prints the address with
// it). Opening the page with the token starts a session, a random id in a
// cookie the browser sends back; each session has a token of its own
// against cross-site requests, which every change must carry in the
// X-CSRF-Token header. Sessions end after 12 hours unused; at most 64 are
// kept (the longest unused goes first).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace qb {

constexpr char kSessionCookie[] = "qbsession";

struct WebSession {
  std::string csrfToken;
  int64_t lastUse = 0;
};

class WebAuth {
 public:
  explicit WebAuth(std::string token) : token_(std::move(token)) {}

  // A new session's id when `offered` is the token, else empty.
  std::string StartSession(const std::string& offered, int64_t now);
  // The CSRF token of the session named in `cookieHeader`, or empty when
  // there is none (unknown, ended). Counts as a use.
  std::string SessionCsrf(const std::string& cookieHeader, int64_t now);
  // Whether a change may be made: a live session and its CSRF token.
  bool ChangeAllowed(const std::string& cookieHeader, const std::string& csrfHeader, int64_t now);

 private:
  static bool SameSecret(const std::string& a, const std::string& b);

  const std::string token_;
  std::mutex mutex_;
  std::map<std::string, WebSession> sessions_;
};

}  // namespace qb
