#include "boxtally/http/tls_session.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>

namespace http {

struct TlsContext {
  SSL_CTX* ctx = nullptr;
};

struct TlsSession {
  SSL* ssl = nullptr;
  BIO* in = nullptr;   // cipher text from the server, owned by `ssl`
  BIO* out = nullptr;  // cipher text for the server, owned by `ssl`
  std::string failure;
  bool certificate = false;
};

namespace {

// The reason of the first error OpenSSL queued on this thread, and the queue emptied: errors are
// read on the thread that met them, so sessions on other threads never see them.
std::string OpenSslReason(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  if (const char* reason = ERR_reason_error_string(code)) return reason;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool IsAddress(const std::string& host) {
  in6_addr v6{};
  in_addr v4{};
  return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

// What a call that returned `rc` <= 0 means.
TlsStep Judge(TlsSession& session, int rc, const char* fallback) {
  const int error = SSL_get_error(session.ssl, rc);
  if (error == SSL_ERROR_WANT_READ) return TlsStep::kWantInput;
  if (error == SSL_ERROR_ZERO_RETURN) return TlsStep::kClosed;
  const long verified = SSL_get_verify_result(session.ssl);
  if (verified != X509_V_OK) {
    session.certificate = true;
    session.failure = X509_verify_cert_error_string(verified);
    ERR_clear_error();
  } else {
    session.failure = OpenSslReason(fallback);
  }
  return TlsStep::kFailed;
}

}  // namespace

TlsContext* CreateTlsContext(const std::string& ca_file, std::string& error) {
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr) {
    error = "cannot set up TLS: " + OpenSslReason("out of memory");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  // A server that closes without the closing alert ends the reply, as a closed plain connection
  // does; where the reply gives its length, the body is judged by that length.
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  // The system's authorities, or those SSL_CERT_FILE and SSL_CERT_DIR name.
  SSL_CTX_set_default_verify_paths(ctx);
  ERR_clear_error();
  if (!ca_file.empty() && SSL_CTX_load_verify_locations(ctx, ca_file.c_str(), nullptr) != 1) {
    error = "cannot read trusted certificates from " + ca_file + ": " +
            OpenSslReason("no certificate found");
    SSL_CTX_free(ctx);
    return nullptr;
  }
  return new TlsContext{ctx};
}

void FreeTlsContext(TlsContext* context) {
  if (context == nullptr) return;
  SSL_CTX_free(context->ctx);
  delete context;
}

const TlsContext* SharedTlsContext(std::string& error) {
  struct Shared {
    TlsContext* context = nullptr;
    std::string error;
  };
  // Made once, by whichever thread comes first; read-only afterwards. It lives as long as the
  // process.
  static const Shared shared = [] {
    Shared made;
    made.context = CreateTlsContext(std::string(), made.error);
    return made;
  }();
  if (shared.context == nullptr) error = shared.error;
  return shared.context;
}

TlsSession* CreateTlsSession(const TlsContext& context, const std::string& host,
                             std::string& error) {
  ERR_clear_error();
  if (host.empty()) {
    error = "no host name to check the certificate against";
    return nullptr;
  }
  auto* session = new TlsSession;
  session->ssl = SSL_new(context.ctx);
  session->in = BIO_new(BIO_s_mem());
  session->out = BIO_new(BIO_s_mem());
  if (session->ssl == nullptr || session->in == nullptr || session->out == nullptr) {
    error = "cannot set up TLS: " + OpenSslReason("out of memory");
    BIO_free(session->in);
    BIO_free(session->out);
    SSL_free(session->ssl);
    delete session;
    return nullptr;
  }
  BIO_set_mem_eof_return(session->in, -1);  // empty: wait for more, not the end
  SSL_set_bio(session->ssl, session->in, session->out);
  SSL_set_connect_state(session->ssl);
  bool named = false;
  if (IsAddress(host)) {
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session->ssl), host.c_str()) == 1;
  } else {
    SSL_set_hostflags(session->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named = SSL_set_tlsext_host_name(session->ssl, host.c_str()) == 1 &&
            SSL_set1_host(session->ssl, host.c_str()) == 1;
  }
  if (!named) {
    error = "cannot check a certificate against the host name " + host + ": " +
            OpenSslReason("not a valid name");
    FreeTlsSession(session);
    return nullptr;
  }
  return session;
}

void FreeTlsSession(TlsSession* session) {
  if (session == nullptr) return;
  SSL_free(session->ssl);  // frees both memory buffers
  delete session;
}

TlsStep TlsHandshake(TlsSession& session) {
  ERR_clear_error();
  const int rc = SSL_do_handshake(session.ssl);
  if (rc == 1) return TlsStep::kDone;
  const TlsStep step = Judge(session, rc, "handshake failed");
  return step == TlsStep::kClosed ? TlsStep::kFailed : step;
}

TlsStep TlsRead(TlsSession& session, char* out, std::size_t size, std::size_t& got) {
  got = 0;
  ERR_clear_error();
  const int rc = SSL_read(session.ssl, out, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
  if (rc > 0) {
    got = static_cast<std::size_t>(rc);
    return TlsStep::kDone;
  }
  return Judge(session, rc, "cannot read from the secure connection");
}

TlsStep TlsWrite(TlsSession& session, std::string_view bytes) {
  while (!bytes.empty()) {
    ERR_clear_error();
    const int rc = SSL_write(session.ssl, bytes.data(),
                             static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX)));
    if (rc <= 0) {
      const TlsStep step = Judge(session, rc, "cannot write to the secure connection");
      // The output buffer takes everything: only a closed or failed session refuses bytes.
      return step == TlsStep::kWantInput ? TlsStep::kFailed : step;
    }
    bytes.remove_prefix(static_cast<std::size_t>(rc));
  }
  return TlsStep::kDone;
}

void TlsClose(TlsSession& session) {
  if (SSL_is_init_finished(session.ssl)) SSL_shutdown(session.ssl);
  ERR_clear_error();
}

void TlsFeed(TlsSession& session, const char* bytes, std::size_t size) {
  BIO_write(session.in, bytes, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
}

void TlsFeedEnd(TlsSession& session) { BIO_set_mem_eof_return(session.in, 0); }

std::string TlsTakeOutput(TlsSession& session) {
  std::string bytes(BIO_ctrl_pending(session.out), '\0');
  if (bytes.empty()) return bytes;
  const int n = BIO_read(session.out, bytes.data(), static_cast<int>(bytes.size()));
  bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return bytes;
}

const std::string& TlsFailureReason(const TlsSession& session) { return session.failure; }
bool TlsCertificateRefused(const TlsSession& session) { return session.certificate; }

}  // namespace http
