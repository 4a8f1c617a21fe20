// The local web page's handlers: the input is one request, as
//   byte 0: bit 0 POST (else GET), bit 1 the signed-in session's cookie,
//           bit 2 its CSRF token, bit 3 the right Host header
//   then the path, a line feed, the query string (name=value&...), a line
//   feed, and the body.
// The page's own files are put back before each request, so the changes
// it makes stay small. A request without the session's cookie must never
// see the receiver's data, and nothing may change without the CSRF token.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_root.h"
#include "platform/env.h"
#include "web/web_app.h"

namespace {

constexpr char kToken[] = "00112233445566778899aabbccddeeff";
constexpr char kHost[] = "127.0.0.1:37180";

struct Page {
  Page()
      : root("[MANAGEMENT]\nOverWrite=0\n"),
        auth(kToken),
        thumbnails(qb::Env::Default(), root.DataDir() + "/thumbnails", 20),
        app(qb::Env::Default(), auth, thumbnails, qb::WebAppOptions{{kHost}, false}) {
    list = "1;" + root.Destination(1) + ";One;1234;\n2;" + root.Destination(2) + ";Two;;\n";
    log = "2026/12/08 05:00 *;printer-secret;a.pdf;1;" + root.Destination(1) + "\n";
    qb::WebRequest signIn;
    signIn.method = "GET";
    signIn.path = "/";
    signIn.host = kHost;
    signIn.query["token"] = kToken;
    for (const auto& [name, value] : app.Handle(signIn).headers) {
      if (name == "Set-Cookie") cookie = value.substr(0, value.find(';'));
    }
    csrf = auth.SessionCsrf(cookie, qb::Env::Default().WallSeconds());
    if (cookie.empty() || csrf.empty()) std::abort();
  }
  qb::fuzz::FuzzRoot root;
  qb::WebAuth auth;
  qb::ThumbnailCache thumbnails;
  qb::WebApp app;
  std::string list, log, cookie, csrf;
};

Page& ThePage() {
  static Page page;
  return page;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Page& page = ThePage();
  qb::fuzz::FuzzRoot::WriteFile(page.root.DestinationList(), page.list);
  qb::fuzz::FuzzRoot::WriteFile(page.root.ReceiveLog(), page.log);
  qb::fuzz::FuzzRoot::WriteFile(page.root.SettingsFile(), "[MANAGEMENT]\nOverWrite=0\n");

  const uint8_t flags = data[0];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t pathEnd = rest.find('\n');
  const size_t queryEnd = pathEnd == std::string::npos ? std::string::npos : rest.find('\n', pathEnd + 1);
  qb::WebRequest request;
  request.method = (flags & 1) ? "POST" : "GET";
  request.path = rest.substr(0, pathEnd);
  if (pathEnd != std::string::npos) {
    request.query = qb::ParseFormText(rest.substr(pathEnd + 1, queryEnd - pathEnd - 1));
  }
  if (queryEnd != std::string::npos) request.body = rest.substr(queryEnd + 1);
  if (flags & 2) request.cookie = page.cookie;
  if (flags & 4) request.csrfToken = page.csrf;
  request.host = (flags & 8) ? kHost : "elsewhere:80";

  const qb::WebResponse response = page.app.Handle(request);
  const bool signedIn = (flags & 2) && (flags & 8);
  if (!signedIn && response.body.find("printer-secret") != std::string::npos) std::abort();
  if (!((flags & 2) && (flags & 4) && (flags & 8)) && request.method == "POST") {
    std::string list;
    qb::ReadWholeFile(qb::Env::Default(), page.root.DestinationList(), &list);
    if (list != page.list) std::abort();
  }
  if (response.status < 200 || response.status > 599) std::abort();
  return 0;
}
