// TKestHTTP: the HTTP/1.1 client on the socket base, over plain connections (http:) and TLS
// (https:), straight or through a proxy. A request parses the URL, composes the header lines,
// sends them on the connection kept from the last request to the same server (or on a new one),
// reads the reply header and the body by its framing (Content-Length, chunked, or until the
// server closes), and judges the reply; redirections are followed up to a bound. The connection
// stays open for the next request when the reply allows it. Get and Head are the requests this
// system needs. A reply that could be taken for something it is not (a body in a coding other
// than identity, a length that is not a plain number, a folded or malformed field) fails the
// request instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "boxtally/http/http_message.h"
#include "boxtally/http/powersock.h"
#include "boxtally/http/proxy.h"

namespace http {

inline constexpr int kMaxRequestRepeats = 10;  // requests sent again after the first one
inline constexpr std::size_t kMaxReplyHeaderBytes = 1048576;  // bytes of one reply header
inline constexpr std::int64_t kMaxBodyTextBytes = 64 << 20;   // body kept as text, not in a file
inline constexpr int kMaxInterimReplies = 16;  // 1xx replies skipped before the final one

// The command kind passed to OnSuccess and OnFailure; the numbers are fixed.
enum CmdType : int {
  kCmdGet = 0,
  kCmdOptions = 1,
  kCmdHead = 2,
  kCmdPost = 3,
  kCmdPut = 4,
  kCmdPatch = 5,
  kCmdCopy = 6,
  kCmdMove = 7,
  kCmdDelete = 8,
  kCmdLink = 9,
  kCmdUnLink = 10,
  kCmdTrace = 11,
  kCmdWrapped = 12,
};

// Why a request failed, for callers that sort failures without reading texts. Cleared when a
// request starts.
enum class FailureKind : std::uint8_t {
  kNone,
  kUrlRefused,              // the URL (not a redirection's) cannot be requested
  kHostNotFound,            // the name of the server or proxy does not resolve
  kConnectionFailed,        // refused, reset, unreachable, closed before or within the reply
  kTimedOut,                // a step waited past the time-out
  kCertificateRefused,      // the server's certificate failed the check
  kSecureConnectionFailed,  // TLS failed for another reason
  kRedirectionRefused,      // too many, too long, to another scheme, down to http, bad target
  kReplyRefused,            // a reply it would not take (coding, length, field, status line, 304)
  kIncompleteBody,          // the body ended before its end (chunks, TLS without closing alert)
  kBodyTooLarge,            // the body passed MaxBodyFileBytes
  kProxyRefused,            // the proxy answered its CONNECT (or a request) with a refusal
  kAborted,                 // Abort (the stop button)
  kOther,                   // a file that cannot be written, a proxy setting that cannot be used
};

// The socket events plus the request's own. Every handler does nothing unless overridden.
class HttpEvents : public SocketEvents {
 public:
  // The header lines are composed: changes to SendHeader made here are sent with this request,
  // changes to HeaderInfo take effect from the next one.
  virtual void OnAboutToSend() {}
  virtual void OnSuccess(CmdType cmd) { (void)cmd; }  // a reply number below 299
  virtual void OnFailure(CmdType cmd) { (void)cmd; }  // a reply number of 400 or more
  // A reply from 300 to 398 (but a 304); setting `handled` ends the request with that reply.
  virtual void OnRedirect(bool& handled) { (void)handled; }
  virtual void OnAuthenticationNeeded() {}  // a 401 reply
};

class TKestHTTP : public TPowersock {
 public:
  // `events` may be nullptr (no handlers); it must outlive the component.
  explicit TKestHTTP(HttpEvents* events = nullptr);

  // Properties.
  std::string Header = "Head.txt";   // OutputFileMode: the reply header's file; else its text
  std::string Body = "Default.htm";  // InputFileMode: the reply body's file; else its text
  bool InputFileMode = false;
  bool OutputFileMode = false;
  // InputFileMode: a body of more bytes fails the request ("Socket capture longer than N
  // bytes"); negative: no bound.
  std::int64_t MaxBodyFileBytes = -1;
  THeaderInfo HeaderInfo;
  std::vector<std::string> SendHeader;  // the request's header lines, in sending order
  // The proxies of each request's URL while Proxy is empty (Proxy, when set, takes every
  // request); none by default.
  ProxyRules Proxies;

  // Results of the last request.
  std::int16_t ReplyNumber = 0;  // 0 once a request is sent, then the reply's status code
  std::int64_t BytesTotal = 0;   // the reply's Content-Length, 0 when absent
  std::string Location;          // the reply's Location value, whole
  std::string ReceivedCookie;    // the reply's Set-Cookie value (see kMaxCookie)
  std::string ReplyEtag;         // the reply's ETag (see kMaxEtag)
  std::int64_t ReplyLastModified = -1;  // the reply's Last-Modified, seconds since 1970; -1: none
  CmdType Command = kCmdGet;     // the kind of the current request
  std::string Url;               // the current URL; a redirection replaces it
  std::string RequestPath;
  // Why the client itself refused or failed the last request, in one line naming the host, proxy
  // or URL: a certificate or a handshake, a reply, a proxy or a redirection it would not take, a
  // request line it would not send. Empty otherwise (a socket error, a time-out, an Abort).
  std::string Refusal;
  FailureKind Failure = FailureKind::kNone;
  std::string FailureReason;  // one line: Refusal when there is one, else the error's text

  // SetHeaderValue on SendHeader (see http_message.h).
  void SetHeaderValue(std::string_view name, std::string_view value);

  // The requests. On return either an error was raised (ok false, with its text: "Empty URL",
  // "Too many redirections", an error of the socket base or of the reply header, or the text of
  // Refusal), or a reply was read: ReplyNumber, Header and Body tell which. A request on a kept
  // connection that the server turns out to have closed before any byte of its reply is sent
  // once more on a new connection (GET and HEAD may be repeated).
  SockResult Get(const std::string& url);
  SockResult Head(const std::string& url);

  // Also keeps a request from being sent again after a redirection.
  void Abort() override;
  // Also forgets the kept connection.
  void Disconnect() override;

 private:
  // Where a request's connection goes: straight to the server, or through a proxy (an http URL
  // as an absolute-form request, an https URL through a CONNECT tunnel).
  struct Route {
    bool via_proxy = false;
    ProxyServer proxy;
    std::string key;  // requests of one key may share a connection
  };

  SockResult RequestLoop(std::string_view method_word);
  SockResult SendRequests(std::string_view method_word);
  SockResult ChooseRoute(Route& route);
  SockResult Exchange(const Route& route);
  SockResult OpenRoute(const Route& route);
  SockResult OpenTunnel(const Route& route);
  // "Refused by the proxy HOST:PORT: 407 Proxy Authentication Required" for the last reply.
  SockResult RefusedByProxy(const Route& route);
  SockResult ReadReplyHeader();
  // A status line and its header lines up to the empty line, into `text` (and `facts`);
  // `header_bytes` counts on across calls. `status_line` false: the first line was none.
  // `sets_reply_number`: ReplyNumber takes the status line's number as soon as it comes.
  SockResult ReadHeaderBlock(std::string& text, std::size_t& header_bytes, bool restart_countdown,
                             ReplyHeaderFacts& facts, bool& status_line, bool sets_reply_number);
  SockResult ReadBody();
  SockResult FollowLocation();
  bool KeepsConnection() const;
  // Sets Refusal and Failure, and fails with `raised` (Refusal when empty).
  SockResult Refuse(std::string why, FailureKind kind, std::string raised = {});
  void SortFailure(const SockResult& result);
  std::string CurrentUrl() const;  // absolute: scheme, host, port, request path
  THeaderInfo InfoToSend() const;

  HttpEvents* http_events_;
  bool abort_request_ = false;
  ReplyHeaderFacts facts_;  // of the last reply header
  int reply_version_ = 0;   // of the last status line: 10 for HTTP/1.0, 11 for HTTP/1.1
  std::string reply_reason_;  // of the last status line (ReplyReason)
  bool body_whole_ = false;      // the last body was read to its framed end
  bool condition_sent_ = false;  // the request carries If-Modified-Since or If-None-Match
  std::string kept_key_;         // the route of the open connection
  // A cookie taken from a redirection goes back only to the host and port that set it.
  std::string cookie_from_reply_;
  std::string cookie_host_;
  int cookie_port_ = 0;
};

}  // namespace http
