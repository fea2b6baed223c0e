// The client side of TLS, without a socket: OpenSSL works on two memory buffers, one for the
// cipher text received and one for the cipher text to send, and the socket base moves the bytes
// between them and its own non-blocking socket. So every wait for the network stays in the socket
// base's poll loop (time-outs, the message pump and Abort keep working), and a server that has
// gone away can never raise SIGPIPE through OpenSSL's writes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace http {

// The trusted certificates and the protocol floor (TLS 1.2) of a set of sessions. The system's
// authorities are trusted (OpenSSL's SSL_CERT_FILE and SSL_CERT_DIR are honoured); `ca_file`,
// when not empty, adds the authorities of one more PEM file. Immutable once made, so one context
// may serve sessions on several threads.
struct TlsContext;
// nullptr with `error` set when OpenSSL cannot make it or `ca_file` holds no certificate.
TlsContext* CreateTlsContext(const std::string& ca_file, std::string& error);
void FreeTlsContext(TlsContext* context);  // accepts nullptr
struct TlsContextFree {
  void operator()(TlsContext* context) const { FreeTlsContext(context); }
};
using TlsContextPtr = std::unique_ptr<TlsContext, TlsContextFree>;

// The context of `ca_file` (empty: none), made once for the whole process and shared by every
// connection of every thread, so a run makes one context whatever its number of connections. A
// file changed on disk (another size or time) gets a context of its own. nullptr, with `error`
// set, when it could not be made (a file without any certificate, say).
const TlsContext* SharedTlsContext(const std::string& ca_file, std::string& error);

// One connection's TLS state. The server's certificate must chain to a trusted authority and name
// `host`: a host name is checked against its names (and sent as SNI), an IP address against its
// addresses. There is no way to turn the check off. The session of an earlier connection of the
// same context to `host` and `port` is offered for resumption (it was checked then), and the
// sessions the server gives are kept for the next connection.
struct TlsSession;
TlsSession* CreateTlsSession(const TlsContext& context, const std::string& host, int port,
                             std::string& error);
// Whether the handshake resumed an earlier session.
bool TlsResumed(const TlsSession& session);
void FreeTlsSession(TlsSession* session);  // accepts nullptr
struct TlsSessionFree {
  void operator()(TlsSession* session) const { FreeTlsSession(session); }
};
using TlsSessionPtr = std::unique_ptr<TlsSession, TlsSessionFree>;

enum class TlsStep {
  kDone,       // the step is complete (a read: some bytes were taken)
  kWantInput,  // feed more cipher text from the server, then try again
  kClosed,     // the server ended the connection with TLS's closing alert
  kCutOff,     // the connection ended without the closing alert: what came may be cut short
  kFailed,     // see TlsFailureReason
};

TlsStep TlsHandshake(TlsSession& session);
// Up to `size` bytes of plain text into `out`; with kDone, `got` > 0.
TlsStep TlsRead(TlsSession& session, char* out, std::size_t size, std::size_t& got);
// Encrypts `bytes` whole; the cipher text waits in TlsTakeOutput.
TlsStep TlsWrite(TlsSession& session, std::string_view bytes);
// Queues the closing alert (best effort).
void TlsClose(TlsSession& session);

void TlsFeed(TlsSession& session, const char* bytes, std::size_t size);  // cipher text received
void TlsFeedEnd(TlsSession& session);  // the server closed: no more cipher text will come
// The cipher text to send, taken out of the session.
std::string TlsTakeOutput(TlsSession& session);

// After kFailed: one line saying why, and whether the server's certificate was the reason.
const std::string& TlsFailureReason(const TlsSession& session);
bool TlsCertificateRefused(const TlsSession& session);

}  // namespace http
