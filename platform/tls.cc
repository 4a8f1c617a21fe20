#include "platform/tls.h"

#include <errno.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace qb {
namespace {

SSL* Ssl(void* ssl) { return static_cast<SSL*>(ssl); }
SSL_CTX* Ctx(void* ctx) { return static_cast<SSL_CTX*>(ctx); }

// The socket BIO of the sessions. It does what OpenSSL's own socket BIO
// does with BIO_NOCLOSE (the descriptor stays the caller's), except that
// it sends with MSG_NOSIGNAL: a write to a connection the peer has reset
// must fail with an error, not raise SIGPIPE and end the process.
int BioFd(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

int BioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t put = ::send(BioFd(bio), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    BIO_set_retry_write(bio);
  }
  return static_cast<int>(put);
}

int BioRead(BIO* bio, char* buffer, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t got = ::recv(BioFd(bio), buffer, static_cast<size_t>(length), 0);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    BIO_set_retry_read(bio);
  }
  return static_cast<int>(got);
}

int BioPuts(BIO* bio, const char* text) {
  return BioWrite(bio, text, static_cast<int>(std::strlen(text)));
}

long BioCtrl(BIO* bio, int command, long /*number*/, void* pointer) {
  switch (command) {
    case BIO_C_GET_FD:
      if (pointer != nullptr) *static_cast<int*>(pointer) = BioFd(bio);
      return BioFd(bio);
    case BIO_CTRL_GET_CLOSE:
      return BIO_NOCLOSE;
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
      return 1;
    default:
      return 0;
  }
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

int BioDestroy(BIO* /*bio*/) { return 1; }

BIO_METHOD* SocketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* made = BIO_meth_new(BIO_TYPE_SOCKET, "quillbox socket");
    if (made == nullptr) return made;
    BIO_meth_set_write(made, BioWrite);
    BIO_meth_set_read(made, BioRead);
    BIO_meth_set_puts(made, BioPuts);
    BIO_meth_set_ctrl(made, BioCtrl);
    BIO_meth_set_create(made, BioCreate);
    BIO_meth_set_destroy(made, BioDestroy);
    return made;
  }();
  return method;
}

TlsResult Outcome(SSL* ssl, int result) {
  if (result > 0) return {result, TlsStatus::kOk, SSL_ERROR_NONE};
  int code = SSL_get_error(ssl, result);
  TlsResult out{0, TlsStatus::kOther, code};
  switch (code) {
    case SSL_ERROR_NONE:
      out.status = TlsStatus::kOk;
      break;
    case SSL_ERROR_WANT_READ:
      out.status = TlsStatus::kWantRead;
      break;
    case SSL_ERROR_WANT_WRITE:
      out.status = TlsStatus::kWantWrite;
      break;
    case SSL_ERROR_ZERO_RETURN:
      out.status = TlsStatus::kZeroReturn;
      break;
    case SSL_ERROR_SYSCALL:
      out.status = TlsStatus::kSyscall;
      break;
    case SSL_ERROR_SSL:
      // OpenSSL 3 reports a connection ended without close_notify as a
      // protocol error; the older interface, whose results the callers
      // keep, reported it as SSL_ERROR_SYSCALL.
      if (ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        out.status = TlsStatus::kSyscall;
        out.code = SSL_ERROR_SYSCALL;
      }
      break;
    default:
      break;
  }
  // Leave nothing in this thread's error queue for the next call to find.
  ERR_clear_error();
  return out;
}

int PassPhraseCallback(char* buffer, int size, int /*forWriting*/, void* phrase) {
  const std::string& text = *static_cast<const std::string*>(phrase);
  if (size < static_cast<int>(text.size()) + 1) return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<int>(text.size());
}

// Forward-secret AEAD suites for TLS 1.2, strongest curves first (an
// "intermediate" profile).
constexpr const char* kTls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384";

// OpenSSL's reason for the last failure, and the queue emptied.
std::string TakeErrorReason() {
  const unsigned long error = ERR_peek_last_error();
  std::string reason;
  if (error != 0) {
    char text[256];
    ERR_error_string_n(error, text, sizeof text);
    reason = text;
  } else {
    reason = errno != 0 ? std::strerror(errno) : "unknown error";
  }
  ERR_clear_error();
  return reason;
}

int VersionFromText(const std::string& text) {
  if (text == "1.0") return TLS1_VERSION;
  if (text == "1.1") return TLS1_1_VERSION;
  if (text == "1.3") return TLS1_3_VERSION;
  return TLS1_2_VERSION;
}

}  // namespace

void InitTlsLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { OPENSSL_init_ssl(0, nullptr); });
}

TlsContext::~TlsContext() {
  if (ctx_ != nullptr) SSL_CTX_free(Ctx(ctx_));
}

std::unique_ptr<TlsContext> TlsContext::NewServer(const std::string& minVersion) {
  InitTlsLibrary();
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr) {
    ERR_clear_error();
    return nullptr;
  }
  std::unique_ptr<TlsContext> context(new TlsContext);
  context->ctx_ = ctx;
  // Every workaround for known peer bugs; SSL 2 and 3 are gone from the
  // library, and the oldest version admitted is the setting's.
  SSL_CTX_set_options(ctx, SSL_OP_ALL | SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION);
  // Deliberately stricter than the original: the server's order, and for
  // TLS 1.2 only forward-secret AEAD suites (no static RSA, no CBC-SHA1).
  // TLS 1.3 suites are all of that kind already.
  SSL_CTX_set_cipher_list(ctx, kTls12Ciphers);
  // The setting moves only the protocol floor; the security level stays
  // the library's default (the original lowered it to 0 for 1.0 and 1.1),
  // so older versions are offered but never with weak keys or digests.
  SSL_CTX_set_min_proto_version(ctx, VersionFromText(minVersion));
  // Reads take whatever the socket holds, not one record header and then
  // its body: half the receives on a stored file, and several records per
  // wake-up. What is read ahead may be only part of a record: Buffered()
  // then says bytes wait, but a read needs more from the socket.
  SSL_CTX_set_read_ahead(ctx, 1);
  // The DHE suites need a group; the library picks one to match the key.
  SSL_CTX_set_dh_auto(ctx, 1);
  return context;
}

std::unique_ptr<TlsContext> TlsContext::NewClient() {
  InitTlsLibrary();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr) {
    ERR_clear_error();
    return nullptr;
  }
  std::unique_ptr<TlsContext> context(new TlsContext);
  context->ctx_ = ctx;
  SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  return context;
}

bool TlsContext::UseCertificateFile(const char* path, std::string* reason) {
  ERR_clear_error();
  errno = 0;
  if (path == nullptr || SSL_CTX_use_certificate_chain_file(Ctx(ctx_), path) != 1) {
    const std::string why = path == nullptr ? "no file named" : TakeErrorReason();
    if (reason != nullptr) *reason = why;
    return false;
  }
  return true;
}

bool TlsContext::UsePrivateKeyFile(const char* path, const char* passPhrase, std::string* reason) {
  if (passPhrase != nullptr) {
    // Each context keeps its own phrase, so two servers never see each
    // other's.
    pass_phrase_ = passPhrase;
    SSL_CTX_set_default_passwd_cb(Ctx(ctx_), PassPhraseCallback);
    SSL_CTX_set_default_passwd_cb_userdata(Ctx(ctx_), &pass_phrase_);
  }
  ERR_clear_error();
  errno = 0;
  std::string why;
  if (path == nullptr) {
    why = "no file named";
  } else if (SSL_CTX_use_PrivateKey_file(Ctx(ctx_), path, SSL_FILETYPE_PEM) != 1) {
    why = TakeErrorReason();
  } else if (SSL_CTX_check_private_key(Ctx(ctx_)) != 1) {
    // A key that does not belong to the certificate would fail every
    // handshake; it is refused here, where the files can be named.
    why = TakeErrorReason();
  }
  if (why.empty()) return true;
  if (reason != nullptr) *reason = why;
  return false;
}

std::unique_ptr<TlsSession> TlsSession::Over(TlsContext* context, int socket) {
  if (context == nullptr || context->native() == nullptr || SocketMethod() == nullptr) {
    return nullptr;
  }
  SSL* ssl = SSL_new(Ctx(context->native()));
  if (ssl == nullptr) {
    ERR_clear_error();
    return nullptr;
  }
  BIO* bio = BIO_new(SocketMethod());
  if (bio == nullptr) {
    SSL_free(ssl);
    ERR_clear_error();
    return nullptr;
  }
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(socket)));
  SSL_set_bio(ssl, bio, bio);
  std::unique_ptr<TlsSession> session(new TlsSession);
  session->ssl_ = ssl;
  return session;
}

std::unique_ptr<TlsSession> TlsSession::NewServer(TlsContext* context, int socket) {
  auto session = Over(context, socket);
  if (session) SSL_set_accept_state(Ssl(session->ssl_));
  return session;
}

std::unique_ptr<TlsSession> TlsSession::NewClient(TlsContext* context, int socket) {
  auto session = Over(context, socket);
  if (session) SSL_set_connect_state(Ssl(session->ssl_));
  return session;
}

void TlsSession::ReadAheadUpTo(int bytes) {
  SSL_set_default_read_buffer_len(Ssl(ssl_), static_cast<size_t>(bytes));
}

TlsSession::~TlsSession() {
  if (ssl_ != nullptr) SSL_free(Ssl(ssl_));
}

TlsResult TlsSession::Accept() {
  ERR_clear_error();
  return Outcome(Ssl(ssl_), SSL_accept(Ssl(ssl_)));
}

TlsResult TlsSession::Connect() {
  ERR_clear_error();
  return Outcome(Ssl(ssl_), SSL_connect(Ssl(ssl_)));
}

TlsResult TlsSession::Read(void* buffer, int length) {
  ERR_clear_error();
  return Outcome(Ssl(ssl_), SSL_read(Ssl(ssl_), buffer, length));
}

TlsResult TlsSession::Write(const void* data, int length) {
  ERR_clear_error();
  return Outcome(Ssl(ssl_), SSL_write(Ssl(ssl_), data, length));
}

int TlsSession::Decrypted() const { return SSL_pending(Ssl(ssl_)); }

bool TlsSession::Buffered() const { return SSL_has_pending(Ssl(ssl_)) == 1; }

void TlsSession::Shutdown() {
  // One attempt: the close_notify goes out if the socket takes it; the
  // peer's answer is not waited for.
  ERR_clear_error();
  SSL_shutdown(Ssl(ssl_));
  ERR_clear_error();
}

bool WriteSelfSignedCertificate(const std::string& keyPath, const std::string& certificatePath,
                                const char* passPhrase) {
  InitTlsLibrary();
  bool ok = false;
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* certificate = X509_new();
  std::FILE* keyFile = nullptr;
  std::FILE* certificateFile = nullptr;
  if (key != nullptr && certificate != nullptr) {
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600L * 24 * 365);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("quillbox"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    keyFile = std::fopen(keyPath.c_str(), "w");
    certificateFile = std::fopen(certificatePath.c_str(), "w");
    if (X509_sign(certificate, key, EVP_sha256()) > 0 && keyFile != nullptr &&
        certificateFile != nullptr) {
      const EVP_CIPHER* cipher = passPhrase != nullptr ? EVP_aes_128_cbc() : nullptr;
      ok = PEM_write_PrivateKey(keyFile, key, cipher,
                                reinterpret_cast<const unsigned char*>(passPhrase),
                                passPhrase != nullptr ? static_cast<int>(std::strlen(passPhrase)) : 0,
                                nullptr, nullptr) == 1 &&
           PEM_write_X509(certificateFile, certificate) == 1;
    }
  }
  if (keyFile != nullptr && std::fclose(keyFile) != 0) ok = false;
  if (certificateFile != nullptr && std::fclose(certificateFile) != 0) ok = false;
  X509_free(certificate);
  EVP_PKEY_free(key);
  ERR_clear_error();
  return ok;
}

}  // namespace qb
