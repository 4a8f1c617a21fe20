// The local web page's handlers: the dashboard and its live state, the
// thumbnails and files of received documents, the destination and setting
// editors, the receive log with search. Every answer but the sign-in page
// needs a session (see web_auth.h); every change needs its CSRF token too.
// Called on the HTTP library's threads; nothing here waits for more than
// a file read or the receiver's short file locks.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/env.h"
#include "web/thumbnail_cache.h"
#include "web/web_auth.h"
#include "web/web_request.h"

namespace qb {

struct WebAppOptions {
  // Host header values the page answers to ("127.0.0.1:37180", ...): a
  // page reached by another name (DNS rebinding) gets nothing.
  std::set<std::string> hosts;
  bool secure = false;  // served with TLS: the cookie says Secure
};

class WebApp {
 public:
  WebApp(Env& env, WebAuth& auth, ThumbnailCache& thumbnails, WebAppOptions options);
  WebResponse Handle(const WebRequest& request);

 private:
  WebResponse SignIn(const WebRequest& request, int64_t now);
  WebResponse Authorised(const WebRequest& request, const std::string& csrf);
  WebResponse Document(const std::string& id, bool thumbnail);
  WebResponse ChangeDestination(const WebRequest& request);
  WebResponse ChangeSetting(const WebRequest& request);

  Env& env_;
  WebAuth& auth_;
  ThumbnailCache& thumbnails_;
  WebAppOptions options_;
};

}  // namespace qb
