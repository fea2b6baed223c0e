#include "boxtally/http/tls_session.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <map>
#include <mutex>
#include <tuple>
#include <utility>

namespace http {

struct TlsContext {
  SSL_CTX* ctx = nullptr;
};

struct TlsSession {
  SSL* ssl = nullptr;
  BIO* in = nullptr;   // cipher text from the server, owned by `ssl`
  BIO* out = nullptr;  // cipher text for the server, owned by `ssl`
  const SSL_CTX* ctx = nullptr;
  std::string key;  // "host:port": whose sessions it keeps and resumes
  std::string failure;
  bool certificate = false;
};

namespace {

// The last session each server gave, per context (its trust decides what was checked) and
// "host:port", for every thread.
struct SessionCache {
  std::mutex mutex;
  std::map<std::pair<const SSL_CTX*, std::string>, SSL_SESSION*> sessions;
};

SessionCache& Sessions() {
  static SessionCache* cache = new SessionCache;  // lives as long as the process
  return *cache;
}

// OpenSSL's call for every session a server gives (after the handshake, or later in TLS 1.3).
int KeepNewSession(SSL* ssl, SSL_SESSION* session) {
  const auto* owner = static_cast<const TlsSession*>(SSL_get_app_data(ssl));
  if (owner == nullptr || SSL_SESSION_is_resumable(session) != 1) return 0;
  SessionCache& cache = Sessions();
  std::lock_guard<std::mutex> lock(cache.mutex);
  SSL_SESSION*& kept = cache.sessions[{owner->ctx, owner->key}];
  if (kept != nullptr) SSL_SESSION_free(kept);
  kept = session;
  return 1;  // the reference is ours now
}

void ResumeKeptSession(TlsSession& session) {
  SessionCache& cache = Sessions();
  std::lock_guard<std::mutex> lock(cache.mutex);
  const auto found = cache.sessions.find({session.ctx, session.key});
  if (found == cache.sessions.end()) return;
  // A copy of its own for each connection: a handshake writes into the session it resumes, and
  // connections on other threads may be resuming the same one at that moment.
  SSL_SESSION* copy = SSL_SESSION_dup(found->second);
  if (copy == nullptr) return;  // a full handshake, then
  SSL_set_session(session.ssl, copy);
  SSL_SESSION_free(copy);  // SSL_set_session took a reference of its own
}

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
  if (error == SSL_ERROR_SSL &&
      ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
    ERR_clear_error();
    session.failure = "the server closed the connection without TLS's closing alert";
    return TlsStep::kCutOff;
  }
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
  // A connection that ends without the closing alert is told apart (kCutOff): a body that only
  // the end of the connection ends may then be cut short by whoever closed it.
  SSL_CTX_clear_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  // Sessions are kept by the cache above, not inside the context.
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx, KeepNewSession);
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

const TlsContext* SharedTlsContext(const std::string& ca_file, std::string& error) {
  struct Shared {
    TlsContext* context = nullptr;
    std::string error;
  };
  // Made once per file, by whichever thread comes first; read-only afterwards. They live as long
  // as the process (a window may run again with the same file).
  static std::mutex mutex;
  static auto* made = new std::map<std::tuple<std::string, long long, long long>, Shared>;
  struct stat info {};
  long long size = -1;
  long long time_ns = -1;
  if (!ca_file.empty() && stat(ca_file.c_str(), &info) == 0) {
    size = static_cast<long long>(info.st_size);
    time_ns = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
  }
  std::lock_guard<std::mutex> lock(mutex);
  auto [entry, fresh] = made->try_emplace({ca_file, size, time_ns});
  if (fresh) entry->second.context = CreateTlsContext(ca_file, entry->second.error);
  if (entry->second.context == nullptr) error = entry->second.error;
  return entry->second.context;
}

TlsSession* CreateTlsSession(const TlsContext& context, const std::string& host, int port,
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
  session->ctx = context.ctx;
  session->key = host + ":" + std::to_string(port);
  SSL_set_app_data(session->ssl, session);
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
  ResumeKeptSession(*session);
  return session;
}

bool TlsResumed(const TlsSession& session) { return SSL_session_reused(session.ssl) == 1; }

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
  if (step == TlsStep::kClosed || step == TlsStep::kCutOff) {
    session.failure = "the server closed the connection during the handshake";
    return TlsStep::kFailed;
  }
  return step;
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
