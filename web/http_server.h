// The page's HTTP server: libmicrohttpd on its own threads, bounded in
// connections (in all and per address), time and request size, optionally
// with TLS. Each request is handed whole to `handler`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "web/web_request.h"

struct MHD_Daemon;

namespace qb {

struct HttpServerOptions {
  std::string address = "127.0.0.1";  // an IPv4 address to bind
  uint16_t port = 37180;              // 0: any free port (tests)
  std::string tlsKeyPem;              // both set: HTTPS only
  std::string tlsCertificatePem;
};

using HttpHandler = std::function<WebResponse(const WebRequest&)>;

class HttpServer {
 public:
  HttpServer() = default;
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // False, with the reason, when it cannot listen.
  bool Start(const HttpServerOptions& options, HttpHandler handler, std::string* why);
  void Stop();
  uint16_t Port() const;

  // For the library's callbacks.
  const HttpHandler& handler() const { return handler_; }

 private:
  MHD_Daemon* daemon_ = nullptr;
  HttpHandler handler_;
};

}  // namespace qb
