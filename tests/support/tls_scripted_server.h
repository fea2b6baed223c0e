// TLS for the scripted server: each connection's bytes go through OpenSSL with a certificate made
// at test time (https_server.h), so a script can misbehave inside TLS: bytes past the record
// layer, a record past the largest size, an end without the closing alert.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <atomic>
#include <memory>
#include <string>

#include "support/scripted_server.h"

namespace testing_support {

class TlsTransport : public ServerTransport {
 public:
  // `cert` and `key`: PEM files.
  TlsTransport(const std::string& cert, const std::string& key) {
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(ctx_, cert.c_str());
    SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM);
  }
  ~TlsTransport() override {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
  }

  bool Start(int fd) override {
    SSL_free(ssl_);
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd);
    timeval wait{5, 0};  // a client that never shakes hands does not hold the server
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const bool ok = SSL_accept(ssl_) == 1;
    if (ok && SSL_session_reused(ssl_) == 1) ++resumed;
    ERR_clear_error();
    return ok;
  }
  ssize_t Receive(int fd, char* buffer, std::size_t size) override {
    (void)fd;
    const int n = SSL_read(ssl_, buffer, static_cast<int>(size));
    ERR_clear_error();
    return n;
  }
  bool HasPending() override { return ssl_ != nullptr && SSL_pending(ssl_) > 0; }
  ssize_t Send(int fd, const char* data, std::size_t size) override {
    (void)fd;
    const int n = SSL_write(ssl_, data, static_cast<int>(size));
    ERR_clear_error();
    return n;
  }
  std::atomic<int> resumed{0};  // connections that resumed an earlier session

  void End(int fd, bool orderly) override {
    (void)fd;
    if (orderly) SSL_shutdown(ssl_);
    ERR_clear_error();
  }

 private:
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
};

}  // namespace testing_support
