#include "web/http_server.h"

#include <microhttpd.h>

#include <cstring>
#include <memory>

#include "platform/net.h"

namespace qb {
namespace {

constexpr unsigned kMaxConnections = 64;
constexpr unsigned kMaxPerAddress = 16;
constexpr unsigned kIdleSeconds = 30;
constexpr size_t kMaxBodyBytes = 65536;
constexpr unsigned kThreads = 2;

// What arrives of one request before it is answered.
struct PendingRequest {
  std::string body;
  bool tooLarge = false;
};

const char* Header(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value == nullptr ? "" : value;
}

MHD_Result AddQueryValue(void* target, MHD_ValueKind, const char* key, const char* value) {
  if (key != nullptr) (*static_cast<std::map<std::string, std::string>*>(target))[key] = value ? value : "";
  return MHD_YES;
}

MHD_Result Answer(MHD_Connection* connection, const WebResponse& reply) {
  MHD_Response* response = MHD_create_response_from_buffer(
      reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", reply.contentType.c_str());
  for (const auto& [name, value] : reply.headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result OnRequest(void* context, MHD_Connection* connection, const char* url, const char* method,
                     const char*, const char* upload, size_t* uploadSize, void** state) {
  auto* server = static_cast<HttpServer*>(context);
  if (*state == nullptr) {  // the headers: the body (if any) follows in later calls
    *state = new (std::nothrow) PendingRequest;
    return *state == nullptr ? MHD_NO : MHD_YES;
  }
  auto* pending = static_cast<PendingRequest*>(*state);
  if (*uploadSize != 0) {
    if (pending->body.size() + *uploadSize > kMaxBodyBytes) {
      pending->tooLarge = true;
    } else {
      pending->body.append(upload, *uploadSize);
    }
    *uploadSize = 0;
    return MHD_YES;
  }
  if (pending->tooLarge) return Answer(connection, WebResponse::Text(413, "Request too large.\n"));
  WebRequest request;
  request.method = method;
  request.path = url;
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, AddQueryValue, &request.query);
  request.host = Header(connection, "Host");
  request.cookie = Header(connection, "Cookie");
  request.csrfToken = Header(connection, "X-CSRF-Token");
  request.contentType = Header(connection, "Content-Type");
  request.body = std::move(pending->body);
  return Answer(connection, server->handler()(request));
}

void OnDone(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
  delete static_cast<PendingRequest*>(*state);
  *state = nullptr;
}

}  // namespace

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(const HttpServerOptions& options, HttpHandler handler, std::string* why) {
  Stop();
  handler_ = std::move(handler);
  uint32_t address = 0;
  if (!ParseDottedAddress(options.address.c_str(), &address)) {
    *why = "not an IPv4 address: " + options.address;
    return false;
  }
  const int listener = TcpListenAt(address, options.port, MaxListenBacklog());
  if (listener < 0) {
    *why = "cannot listen on " + options.address + " port " + std::to_string(options.port) +
           " (in use, or not an address of this machine?)";
    return false;
  }
  const bool tls = !options.tlsKeyPem.empty() && !options.tlsCertificatePem.empty();
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_TURBO;
  if (tls) flags |= MHD_USE_TLS;
  MHD_OptionItem tlsOptions[] = {
      {tls ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, 0, const_cast<char*>(options.tlsKeyPem.c_str())},
      {tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0,
       const_cast<char*>(options.tlsCertificatePem.c_str())},
      {MHD_OPTION_END, 0, nullptr}};
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, OnRequest, this, MHD_OPTION_LISTEN_SOCKET, listener,
      MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
      kMaxPerAddress, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_THREAD_POOL_SIZE,
      kThreads, MHD_OPTION_NOTIFY_COMPLETED, OnDone, nullptr, MHD_OPTION_ARRAY, tlsOptions,
      MHD_OPTION_END);
  if (daemon_ == nullptr) {
    SockClose(listener);
    *why = tls ? "cannot serve TLS: is the key pair readable and valid?" : "cannot start the HTTP server";
    return false;
  }
  return true;
}

void HttpServer::Stop() {
  if (daemon_ == nullptr) return;
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

uint16_t HttpServer::Port() const {
  if (daemon_ == nullptr) return 0;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  return info == nullptr ? 0 : info->port;
}

}  // namespace qb
