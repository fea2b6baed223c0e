// TPowersock: the socket base of the HTTP client. Host lookup, connection, sending, reading of
// lines and of everything up to the end of a connection, time-outs, cancellation and status
// reports, over a plain connection or over TLS. Every operation is synchronous: it returns when its
// step is done or has failed. While it waits it polls the socket in short steps and lets the host
// process its pending messages in between, so a window stays responsive; events are delivered on
// the calling thread, and an event handler (or the host's message processing) may call Abort.
// An instance keeps all its state to itself (the TLS context it shares with the others is made
// once and never changes), so instances may work on several threads at once, one thread each.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "boxtally/http/tls_session.h"

namespace http {

inline constexpr int kPollStepMs = 20;                    // longest wait between two message rounds
inline constexpr std::size_t kReceiveBufferSize = 65536;  // bytes taken by one receive
inline constexpr std::size_t kMaxLineBytes = 65536;  // bytes of one ReadLn line, line feed included

// Status levels: a report reaches OnStatus when its level is not above ReportLevel.
inline constexpr int kStatusTransaction = 2;
inline constexpr int kStatusInfo = 4;
inline constexpr int kStatusTrace = 8;

// The outcome of an operation: either done, or an error raised with its text.
struct [[nodiscard]] SockResult {
  bool ok = true;
  std::string error;  // the raised error's text when !ok
};

// How a capture tells where a body ends from its bytes. Take gets the bytes received and not
// yet taken, appends the body bytes among them to `body`, and returns how many it took: all of
// them, unless the body has ended (`complete` set; the rest belongs to what follows) or cannot be
// read (Failure() says why).
class BodyFraming {
 public:
  virtual ~BodyFraming() = default;
  virtual std::size_t Take(std::string_view received, std::string& body, bool& complete) = 0;
  virtual std::string Failure() const { return {}; }
};

// A body of `expected` bytes, or (-1) of everything until the server closes the connection.
class LengthFraming : public BodyFraming {
 public:
  explicit LengthFraming(std::int64_t expected) : left_(expected) {}
  std::size_t Take(std::string_view received, std::string& body, bool& complete) override;

 private:
  std::int64_t left_;
};

// How the last capture ended.
enum class CaptureEnd {
  kComplete,  // the framing found the body's end
  kClosed,    // the server closed the connection (with TLS's closing alert, under TLS)
  kCutOff,    // under TLS, the connection ended without the closing alert
  kLimit,     // a text capture reached its limit: the rest of the body is unread
};

// The component's events. Every handler does nothing unless overridden.
class SocketEvents {
 public:
  virtual ~SocketEvents() = default;
  virtual void OnConnect() {}
  virtual void OnDisconnect() {}
  virtual void OnHostResolved() {}
  // Raised once per Connect when the host name cannot be found; a handler that sets Host to
  // another name or address and sets `handled` makes Connect look that one up.
  virtual void OnInvalidHost(bool& handled) { (void)handled; }
  virtual void OnStatus(const std::string& status) { (void)status; }
  virtual void OnConnectionFailed() {}
  virtual void OnPacketRecvd() {}
  virtual void OnPacketSent() {}
};

class TPowersock {
 public:
  // `events` may be nullptr (no handlers); it must outlive the component.
  explicit TPowersock(SocketEvents* events = nullptr);
  virtual ~TPowersock();
  TPowersock(const TPowersock&) = delete;
  TPowersock& operator=(const TPowersock&) = delete;

  // Called between poll steps, at most kPollStepMs apart: the window processes its messages
  // here, a terminal checks for Ctrl-C. Empty: nothing is called. With `regular` false the pump
  // is called only when a wait wakes (data, a time-out, or Wake), so a component that has
  // nothing else to do between network events sleeps until one comes.
  void SetMessagePump(std::function<void()> process_messages, bool regular = true);
  // Wakes the wait in progress (or the next one), which then calls the pump: the one call that
  // another thread may make. A pump that finds a stop request calls Abort.
  void Wake();

  // Properties.
  std::string Host;  // host name or dotted address of the server
  int Port = 0;      // server port
  int TimeOut = 0;   // milliseconds of every waiting step; 0: no time-out
  int ReportLevel = 0;
  std::string Proxy;  // when set, the connection goes to Proxy and ProxyPort instead
  int ProxyPort = 0;
  // TLS over the connection: Connect shakes hands after connecting, and the server's certificate
  // must chain to a trusted authority and name Host (a host name or an IP address).
  bool Secure = false;
  // One more PEM file of trusted authorities, besides the system's; empty: none.
  std::string CaFile;

  // Results.
  int LastErrorNo = 0;          // the last socket error, Windows Sockets numbering
  bool TimedOut = false;        // the time-out expired in the current (or last) waiting step
  std::int64_t BytesRecvd = 0;  // bytes received by the last capture
  std::int64_t BytesSent = 0;   // bytes sent from files since the component was made
  // Why the last secure connection failed (empty when it did not), and whether the server's
  // certificate was the reason.
  std::string SecureFailure;
  bool CertificateRefused = false;

  // Looks up the server (Proxy when set, else Host) and connects to it. An IP address (IPv4
  // dotted, IPv6) is used as it is; a name is looked up on another thread while this one waits.
  // Errors: "Already connected", "Null Remote Address", "Host Lookup Timed Out", "Host Lookup
  // Canceled", "Connection Timed out", "Connection Canceled", "Connection Failed"; with Secure,
  // "TLS Handshake Failed" (SecureFailure says why), "TLS Handshake Timed out", "TLS Handshake
  // Canceled". OnConnect fires once the connection can be used, after the handshake.
  virtual SockResult Connect();
  // Closes the connection, if one is open, and raises OnDisconnect. Never fails.
  virtual void Disconnect();
  // Cancels the waiting step in progress (or the next one): it ends with its error.
  virtual void Abort();

  // Send a text (Writeln adds CR LF). Errors: "Socket send aborted", or a socket error text.
  SockResult Write(std::string_view text);
  SockResult Writeln(std::string_view text);
  // The next line received, up to and including its line feed; what is left of the last line
  // (or the empty text) once the server has closed the connection. A line that has no line feed
  // within kMaxLineBytes fails with "Socket readln line longer than 65536 bytes". With
  // `restart_countdown` false the time-out of the previous ReadLn goes on running, so several
  // lines can share one deadline.
  SockResult ReadLn(std::string& line, bool restart_countdown = true);
  // Sends a file's content; raises OnPacketSent and grows BytesSent per piece sent.
  SockResult SendFile(const std::string& path);
  // Receive everything until the server closes the connection, into a file created anew or
  // into `text` (at most `limit` bytes when limit >= 0). Error on time-out or Abort: "Socket
  // capture aborted". Every received chunk raises OnPacketRecvd and restarts the time-out.
  // A file capture with limit >= 0 fails ("Socket capture longer than N bytes") as soon as more
  // than `limit` bytes arrive: a file cut short must not pass for a whole one. With `expected`
  // >= 0 the capture is complete once that many bytes have come (a reply's Content-Length),
  // without waiting for the server to close.
  SockResult CaptureFile(const std::string& path, std::int64_t limit = -1,
                         std::int64_t expected = -1);
  SockResult CaptureString(std::string& text, std::int64_t limit, std::int64_t expected = -1);
  // The same with a framing of the caller's (a chunked body, say) instead of a length.
  SockResult CaptureFile(const std::string& path, std::int64_t limit, BodyFraming& framing);
  SockResult CaptureString(std::string& text, std::int64_t limit, BodyFraming& framing);

  bool Connected() const { return connected_; }
  CaptureEnd LastCaptureEnd() const { return capture_end_; }

 protected:
  // Passes `text` to OnStatus when `level` is not above ReportLevel.
  void Report(int level, const std::string& text);
  SocketEvents& Events() { return *events_; }

  // The steps of Connect, for a client that goes through a proxy's tunnel first: a connection to
  // `via`:`via_port` (a proxy), or to Host:Port when `via` is empty; nothing else, no OnConnect.
  // OnInvalidHost is asked only about Host.
  SockResult ConnectTcp(const std::string& via, int via_port);
  // TLS over the connection made, checking the certificate against Host (errors as Connect's).
  SockResult StartTls();
  void RaiseConnect() { events_->OnConnect(); }
  // Closes the connection without OnDisconnect (one that could not be used).
  void DropConnection() { CloseSocket(); }
  // Whether the open connection can take another request: nothing unread is waiting and the
  // server has not closed it (what TLS sends on its own, such as session tickets, is taken).
  bool KeptConnectionUsable();
  // Bytes received on the connection so far (after TLS), and those not yet taken.
  std::int64_t ReceivedOnConnection() const { return received_on_connection_; }
  std::size_t UnreadBytes() const { return PendingSize(); }
  bool CanceledFlag() const { return canceled_; }

 private:
  enum class Wait { kReady, kCanceled };
  // How a transfer of bytes ended: done, the server closed (receiving), the wait was canceled, or
  // an error, kept in io_failure_.
  enum class Io { kDone, kEnd, kCanceled, kFailed };
  struct Lookup;

  static void StartLookupThread(const std::shared_ptr<Lookup>& job, const std::string& name);
  SockResult LookUp(const std::string& name, std::shared_ptr<Lookup>& job);
  SockResult ConnectTo(const std::shared_ptr<Lookup>& addresses, int port);
  SockResult SocketError(int errno_value);  // stores LastErrorNo, returns the error text
  SockResult Canceled(const char* text);    // clears the canceled flag, returns the error
  // The bytes on the wire: received into `into` (waiting until some come), or sent whole.
  Io ReceiveRaw(char* into, std::size_t size, std::size_t& got);
  Io SendRaw(std::string_view bytes, bool counts_as_file);
  Io FlushTls();  // sends the cipher text the TLS session has made
  // Appends the next bytes received (decrypted under TLS) to the receive buffer.
  Io ReceiveMore();
  Io ReceiveMoreBytes();
  std::size_t PendingSize() const { return pending_.size() - pending_at_; }
  std::string_view Pending() const { return std::string_view(pending_).substr(pending_at_); }
  SockResult HandshakeFailed(std::string why, bool certificate);
  SockResult SendAll(std::string_view bytes, bool timed, bool counts_as_file);
  SockResult Capture(std::FILE* file, const std::string& path, std::string* text,
                     std::int64_t limit, BodyFraming& framing);
  SockResult CaptureInto(const std::string& path, std::int64_t limit, BodyFraming& framing);
  Wait WaitFor(short poll_events);
  void PumpMessages();
  void PumpIfDue();  // pumps when the last round is kPollStepMs or more ago
  void StartTimer();
  void ResumeTimer();  // runs on towards the deadline the last StartTimer set
  void RestartTimer();
  void StopTimer();
  void CheckTimer();  // on expiry: "Timer Triggered", TimedOut, and the step is canceled
  void CloseSocket();

  SocketEvents* events_;
  std::function<void()> process_messages_;
  bool regular_pump_ = true;
  int wake_fd_ = -1;  // an eventfd that Wake makes readable
  int fd_ = -1;
  SockResult io_failure_;  // the error of the last Io::kFailed
  bool connected_ = false;
  bool canceled_ = false;
  bool timer_on_ = false;
  std::int64_t deadline_ms_ = 0;    // steady clock, milliseconds
  std::int64_t last_pump_ms_ = 0;   // steady clock, milliseconds
  std::unique_ptr<char[]> buffer_;  // the kReceiveBufferSize receive buffer
  // Bytes received (and decrypted) but not yet taken by ReadLn or a capture: from pending_at_ on.
  std::string pending_;
  std::size_t pending_at_ = 0;
  TlsSessionPtr tls_;  // the connection's TLS state while Secure and connected
  bool tls_input_ended_ = false;
  bool tls_cut_off_ = false;  // the server ended the connection without TLS's closing alert
  std::int64_t received_on_connection_ = 0;
  CaptureEnd capture_end_ = CaptureEnd::kComplete;
  std::string body_piece_;  // a capture's body bytes of one receive
};

}  // namespace http
