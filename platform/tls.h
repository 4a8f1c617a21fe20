// TLS for the FTP server, over OpenSSL: a server context built from PEM
// files and one session per connected socket. The results are OpenSSL's
// own kinds, so the callers can keep their rules for each.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qb {

// Initialises the TLS library once per process (start-up).
void InitTlsLibrary();

enum class TlsStatus { kOk, kWantRead, kWantWrite, kZeroReturn, kSyscall, kOther };
struct TlsResult {
  int bytes = 0;  // > 0 with kOk
  TlsStatus status = TlsStatus::kOk;
  int code = 0;   // OpenSSL's SSL_get_error value
};

class TlsContext {
 public:
  ~TlsContext();
  // Version-flexible server context with every bug workaround, the
  // server's cipher order (forward-secret AEAD suites only) and the oldest
  // protocol version admitted ("1.0".."1.3").
  static std::unique_ptr<TlsContext> NewServer(const std::string& minVersion);
  // A client context that accepts any certificate: for tests and tools
  // that play the printer.
  static std::unique_ptr<TlsContext> NewClient();
  // False with OpenSSL's reason in `reason` (when given).
  bool UseCertificateFile(const char* path, std::string* reason = nullptr);
  // `passPhrase` null: no callback. Also false when the key does not
  // belong to the certificate.
  bool UsePrivateKeyFile(const char* path, const char* passPhrase, std::string* reason = nullptr);
  void* native() const { return ctx_; }

 private:
  TlsContext() = default;
  void* ctx_ = nullptr;
  std::string pass_phrase_;
};

class TlsSession {
 public:
  // A session over the connected socket (the socket stays the caller's).
  static std::unique_ptr<TlsSession> NewServer(TlsContext* context, int socket);
  // The client side (tests and tools): Connect instead of Accept.
  static std::unique_ptr<TlsSession> NewClient(TlsContext* context, int socket);
  ~TlsSession();  // frees without shutdown
  // Before the handshake: reads ahead up to `bytes` from the socket at a
  // time rather than about one record, for a connection that carries a
  // file (fewer receives; the memory is held while the session lives).
  void ReadAheadUpTo(int bytes);
  TlsResult Accept();
  TlsResult Connect();
  TlsResult Read(void* buffer, int length);
  TlsResult Write(const void* data, int length);
  // Bytes already decrypted and waiting.
  int Decrypted() const;
  // Whether any bytes wait in the library at all: decrypted ones, or read
  // ahead from the socket, which may be only part of a record.
  bool Buffered() const;
  void Shutdown();

 private:
  TlsSession() = default;
  static std::unique_ptr<TlsSession> Over(TlsContext* context, int socket);
  void* ssl_ = nullptr;
};

// Writes a new self-signed certificate and its private key as PEM files
// (the key protected by `passPhrase` unless it is null): for tests and for
// a first FTPS set-up. False on failure.
bool WriteSelfSignedCertificate(const std::string& keyPath, const std::string& certificatePath,
                                const char* passPhrase = nullptr);

}  // namespace qb
