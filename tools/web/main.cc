// quillbox-web: the receiver's local web page. A program of its own, not
// part of the receiver: it reads the receiver's files and changes them
// through the administration library, as quillbox-config does, and needs
// no more rights than a member of the program's group.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "config/folders.h"
#include "config/settings.h"
#include "platform/crypto.h"
#include "platform/env.h"
#include "platform/event_loop.h"
#include "platform/places.h"
#include "platform/secret_file.h"
#include "web/http_server.h"
#include "web/thumbnail_cache.h"
#include "web/web_app.h"

namespace {

// Exit codes (quillbox-web(1)).
constexpr int kExitStopped = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNoToken = 3;
constexpr int kExitCannotServe = 4;

constexpr size_t kThumbnailFiles = 500;

int Usage(const char* problem) {
  std::FILE* out = problem == nullptr ? stdout : stderr;
  if (problem != nullptr) std::fprintf(stderr, "quillbox-web: %s\n", problem);
  std::fprintf(out,
               "usage: quillbox-web [options]\n"
               "Serves the receiver's local web page; quillbox-config web-url prints its address.\n"
               "options:\n"
               "  --address IPV4   listen there instead of WebAddress (not 127.0.0.1: TLS only)\n"
               "  --port N         listen on port N instead of WebPort (0: any free port)\n"
               "  -h, --help       this text\n"
               "exit codes: 0 stopped by a signal, 2 usage, 3 no token, 4 cannot serve\n");
  return problem == nullptr ? kExitStopped : kExitUsage;
}

// The token of the page: kept across restarts, so the address printed
// once stays good; made when there is none.
bool LoadToken(std::string* token, std::string* path) {
  qb::RunFolder();  // made with the group's mode when it is not there yet
  *path = qb::WebTokenPath();
  if (qb::ReadSecretFile(*path, token) && token->size() >= 32) return true;
  *token = qb::RandomHex(24);
  return !token->empty() && qb::WriteSecretFile(*path, *token);
}

bool ReadPem(qb::Env& env, const char* path, std::string* text) {
  return qb::ReadWholeFile(env, path, text).ok() && !text->empty();
}

// The TLS key pair of the FTPS server: the settings' files, or the pair
// next to the program.
bool LoadKeyPair(qb::Env& env, qb::HttpServerOptions* options) {
  char key[260] = {}, certificate[260] = {};
  qb::GetSSL_PrivateKey(key, sizeof key);
  qb::GetSSL_CertificateKey(certificate, sizeof certificate);
  if (key[0] == '\0') {
    char folder[260] = {};
    qb::GetProgramFolder(folder, sizeof folder);
    std::snprintf(key, sizeof key, "%sDfPriv.key", folder);
    std::snprintf(certificate, sizeof certificate, "%sDfCert.crt", folder);
  }
  return ReadPem(env, key, &options->tlsKeyPem) && ReadPem(env, certificate, &options->tlsCertificatePem);
}

}  // namespace

int main(int argc, char** argv) {
  qb::Env& env = qb::Env::Default();
  qb::LocateSettingsFile(env);
  qb::HttpServerOptions options;
  char address[64] = {};
  qb::GetWebAddress(address, sizeof address);
  options.address = address[0] != '\0' ? address : "127.0.0.1";
  options.port = static_cast<uint16_t>(qb::GetWebPort());
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") return Usage(nullptr);
    if (i + 1 >= argc) return Usage(("missing value after " + argument).c_str());
    if (argument == "--address") {
      options.address = argv[++i];
    } else if (argument == "--port") {
      const long port = std::strtol(argv[++i], nullptr, 10);
      if (port < 0 || port > 65535) return Usage("the port must be 0 to 65535");
      options.port = static_cast<uint16_t>(port);
    } else {
      return Usage(("unknown option " + argument).c_str());
    }
  }
  const bool loopback = options.address == "127.0.0.1";
  if (!loopback && !LoadKeyPair(env, &options)) {
    std::fprintf(stderr,
                 "quillbox-web: %s is not the loopback address, so the page is served only with "
                 "TLS, and the key pair (SSL_PrivateKey, SSL_CertificateKey) cannot be read\n",
                 options.address.c_str());
    return kExitCannotServe;
  }
  std::string token, tokenPath;
  if (!LoadToken(&token, &tokenPath)) {
    std::fprintf(stderr, "quillbox-web: cannot read or make the page's token %s\n", tokenPath.c_str());
    return kExitNoToken;
  }

  qb::EventLoop loop(env);
  // Before any other thread starts, so that every thread leaves the
  // termination signals to the loop.
  loop.WatchTerminationSignals([&loop](int) { loop.Quit(kExitStopped); });
  qb::WebAuth auth(token);
  qb::ThumbnailCache thumbnails(env, qb::DataFolder() + "/thumbnails", kThumbnailFiles);
  qb::WebAppOptions appOptions;
  appOptions.secure = !loopback;
  if (options.port != 0) {
    std::string port = ":";  // appended, not "+": g++ 12 at -O3 warns falsely on the latter
    port += std::to_string(options.port);
    appOptions.hosts = {options.address + port};
    if (loopback) appOptions.hosts.insert("localhost" + port);
  }
  qb::WebApp app(env, auth, thumbnails, appOptions);
  qb::HttpServer server;
  std::string why;
  if (!server.Start(options, [&app](const qb::WebRequest& request) { return app.Handle(request); }, &why)) {
    std::fprintf(stderr, "quillbox-web: %s\n", why.c_str());
    return kExitCannotServe;
  }
  std::fprintf(stderr, "quillbox-web: serving %s://%s:%u/ (quillbox-config web-url prints the address)\n",
               loopback ? "http" : "https", options.address.c_str(), server.Port());
  const int code = loop.Run();
  server.Stop();
  return code;
}
