#include "boxtally/http/kest_http.h"

#include <cstdio>
#include <string>

#include "boxtally/http/socket_errors.h"

namespace http {
namespace {

HttpEvents& NoHttpEvents() {
  static HttpEvents none;
  return none;
}

SockResult Fail(std::string text) { return SockResult{false, std::move(text)}; }

// A chunked body, read as its bytes come.
class ChunkedFraming : public BodyFraming {
 public:
  std::size_t Take(std::string_view received, std::string& body, bool& complete) override {
    const std::size_t took = TakeChunked(state_, received, body);
    complete = state_.stage == ChunkedBody::Stage::kDone;
    return took;
  }
  std::string Failure() const override {
    return state_.stage == ChunkedBody::Stage::kFailed ? state_.error : std::string();
  }

 private:
  ChunkedBody state_;
};

// "host:port" with an IPv6 address in brackets, as CONNECT names its target.
std::string HostAndPort(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool StartsWith(const std::string& text, std::string_view start) {
  return text.compare(0, start.size(), start) == 0;
}

}  // namespace

TKestHTTP::TKestHTTP(HttpEvents* events)
    : TPowersock(events != nullptr ? events : &NoHttpEvents()),
      http_events_(events != nullptr ? events : &NoHttpEvents()) {}

void TKestHTTP::SetHeaderValue(std::string_view name, std::string_view value) {
  http::SetHeaderValue(SendHeader, name, value);
}

void TKestHTTP::Abort() {
  TPowersock::Abort();
  abort_request_ = true;
}

void TKestHTTP::Disconnect() {
  kept_key_.clear();
  TPowersock::Disconnect();
}

SockResult TKestHTTP::Get(const std::string& url) {
  Url = url;
  Command = kCmdGet;
  return RequestLoop("GET ");
}

SockResult TKestHTTP::Head(const std::string& url) {
  Url = url;
  Command = kCmdHead;
  return RequestLoop("HEAD ");
}

SockResult TKestHTTP::Refuse(std::string why, FailureKind kind, std::string raised) {
  Refusal = std::move(why);
  Failure = kind;
  return Fail(raised.empty() ? Refusal : std::move(raised));
}

std::string TKestHTTP::CurrentUrl() const {
  return std::string(Secure ? "https://" : "http://") + HostField(Host, Port, Secure) + RequestPath;
}

THeaderInfo TKestHTTP::InfoToSend() const {
  THeaderInfo info = HeaderInfo;
  const bool from_reply = !cookie_host_.empty() && info.Cookie == cookie_from_reply_;
  if (from_reply && !(EqualsIgnoringCase(cookie_host_, Host) && cookie_port_ == Port)) {
    info.Cookie.clear();
  }
  return info;
}

SockResult TKestHTTP::RequestLoop(std::string_view method_word) {
  // Nothing of an earlier request may be read as this one's failure.
  abort_request_ = false;
  Refusal.clear();
  Failure = FailureKind::kNone;
  FailureReason.clear();
  LastErrorNo = 0;
  TimedOut = false;
  SecureFailure.clear();
  CertificateRefused = false;
  const SockResult result = SendRequests(method_word);
  SortFailure(result);
  return result;
}

void TKestHTTP::SortFailure(const SockResult& result) {
  if (result.ok) return;
  const std::string& error = result.error;
  if (Failure == FailureKind::kNone) {
    if (TimedOut) {
      Failure = FailureKind::kTimedOut;
    } else if (abort_request_) {
      Failure = FailureKind::kAborted;
    } else if (Secure && !SecureFailure.empty()) {
      Failure = CertificateRefused ? FailureKind::kCertificateRefused
                                   : FailureKind::kSecureConnectionFailed;
    } else if (error == "Null Remote Address") {
      Failure = FailureKind::kHostNotFound;
    } else if (LastErrorNo != 0 || StartsWith(error, "Connection")) {
      Failure = FailureKind::kConnectionFailed;
    } else {
      Failure = FailureKind::kOther;
    }
  }
  // A TLS failure met anywhere (the handshake, a record, a renegotiation) gets its line.
  if (Refusal.empty() && Secure && !SecureFailure.empty()) {
    Refusal = CertificateRefused ? "Refused the certificate of " + Host + ": " + SecureFailure
                                 : "Secure connection to " + Host + " failed: " + SecureFailure;
  }
  if (!Refusal.empty()) {
    FailureReason = Refusal;
  } else if (TimedOut) {
    FailureReason = "no answer within the time-out (" + error + ")";
  } else if (LastErrorNo != 0) {
    FailureReason = SocketErrorText(LastErrorNo);
  } else {
    FailureReason = error;
  }
}

SockResult TKestHTTP::SendRequests(std::string_view method_word) {
  for (int repeats = 0;; ++repeats) {
    // Connect clears the canceled flag, so an Abort from OnRedirect is kept here.
    if (repeats > 0 && abort_request_) return Fail("Connection Canceled");
    const ParsedUrl parsed = ParseUrl(Url, Host, Port, Secure);
    if (!parsed.ok) {
      if (parsed.error == "Empty URL") return Fail(parsed.error);
      // The URL errors raise a line of their own; the older ones (a bad port) keep their text.
      const bool own_line = StartsWith(parsed.error, "URL ");
      return Refuse("Refused the URL: " + parsed.error, FailureKind::kUrlRefused,
                    own_line ? std::string() : parsed.error);
    }
    Url = parsed.url;
    RequestPath = parsed.path;
    Host = parsed.host;
    Port = parsed.port;
    Secure = parsed.secure;
    Route route;
    if (SockResult routed = ChooseRoute(route); !routed.ok) return routed;
    // Through a proxy an http URL goes whole in the request line; https goes through a tunnel.
    const bool absolute_form = route.via_proxy && !Secure;
    SendHeader = ComposeRequestHeader(method_word, absolute_form ? CurrentUrl() : RequestPath,
                                      HostField(Host, Port, Secure), absolute_form, InfoToSend());
    if (absolute_form && !route.proxy.user.empty()) {
      SetHeaderValue("Proxy-Authorization",
                     "Basic " + Base64Encode(route.proxy.user + ":" + route.proxy.password));
    }
    http_events_->OnAboutToSend();
    condition_sent_ = false;
    // A line break in a value would end the line early and start another the server obeys.
    for (const std::string& line : SendHeader) {
      if (HoldsControlByte(line)) {
        return Refuse("Refused the request to " + Host + ": a header line holds a control byte",
                      FailureKind::kOther);
      }
      const std::string_view name = std::string_view(line).substr(0, line.find(':'));
      if (EqualsIgnoringCase(name, "If-Modified-Since") ||
          EqualsIgnoringCase(name, "If-None-Match")) {
        condition_sent_ = true;
      }
    }

    const SockResult exchanged = Exchange(route);
    if (!exchanged.ok || !KeepsConnection()) Disconnect();
    if (!exchanged.ok) return exchanged;

    const int reply = ReplyNumber;
    if (reply == 304) return {};  // the answer to a condition: what the caller has is current
    if (reply >= 300 && reply <= 398) {
      if (!ReceivedCookie.empty()) {
        HeaderInfo.Cookie = ReceivedCookie;
        cookie_from_reply_ = ReceivedCookie;
        cookie_host_ = Host;
        cookie_port_ = Port;
      }
      bool handled = false;
      http_events_->OnRedirect(handled);
      if (handled) return {};
      // A redirection that names no target cannot be followed: the request ends with it.
      if (reply <= 302 && Location.empty()) return {};
    }
    if (reply == 401) http_events_->OnAuthenticationNeeded();
    if (reply < 299 || reply > 399) return {};
    // 299, and 303 to 399 without a Location, send the same request again, and redirections may
    // loop: both end here.
    if (repeats == kMaxRequestRepeats) {
      return Refuse("Refused the redirection from " + CurrentUrl() + ": too many redirections",
                    FailureKind::kRedirectionRefused, "Too many redirections");
    }
  }
}

SockResult TKestHTTP::ChooseRoute(Route& route) {
  if (!Proxy.empty()) {
    route.via_proxy = true;
    route.proxy.host = Proxy;
    route.proxy.port = ProxyPort;
  } else if (const std::optional<ParsedProxy> chosen = ChooseProxy(Proxies, Secure, Host)) {
    if (!chosen->ok) {
      return Refuse("Refused the proxy " + (Secure ? Proxies.https : Proxies.http) + ": " +
                        chosen->error,
                    FailureKind::kOther);
    }
    route.via_proxy = true;
    route.proxy = chosen->server;
  }
  // Requests of one key may share a connection: an http proxy carries any server's, a tunnel
  // one server's; a TLS connection was checked with one file of authorities.
  const std::string server = HostAndPort(Host, Port);
  if (!route.via_proxy) {
    route.key = (Secure ? "https " + CaFile + " " : "http ") + server;
  } else if (!Secure) {
    route.key = "proxy " + HostAndPort(route.proxy.host, route.proxy.port);
  } else {
    route.key = "tunnel " + HostAndPort(route.proxy.host, route.proxy.port) + " " + CaFile + " " +
                server;
  }
  return {};
}

bool TKestHTTP::KeepsConnection() const {
  // HTTP/1.1 keeps its connections unless a side says "close"; HTTP/1.0 only on request. A body
  // that only the close ended, one not read to its end, bytes beyond it, or a length beside a
  // chunked coding (a message others may frame otherwise) end the connection.
  const bool persistent = reply_version_ >= 11 || facts_.keep_alive;
  return Connected() && body_whole_ && persistent && !facts_.close && UnreadBytes() == 0 &&
         !(facts_.chunked && facts_.has_length);
}

SockResult TKestHTTP::Exchange(const Route& route) {
  bool reused = Connected() && route.key == kept_key_ && KeptConnectionUsable();
  if (Connected() && !reused) Disconnect();
  SockResult result;
  for (;;) {
    if (!reused) {
      result = OpenRoute(route);
      if (!result.ok) return result;
    }
    const std::int64_t received_before = ReceivedOnConnection();
    result = Write(JoinRequestHeader(SendHeader));
    if (result.ok) {
      ReplyNumber = 0;
      result = ReadReplyHeader();
    }
    // A kept connection that the server closed meanwhile (its idle time-out) shows only now.
    // Nothing of a reply came, so the request (a GET or HEAD, which may be repeated) goes once
    // more on a new connection.
    const bool closed_meanwhile = !result.ok && reused && Refusal.empty() && !TimedOut &&
                                  !abort_request_ &&
                                  ReceivedOnConnection() == received_before;
    if (!closed_meanwhile) break;
    Disconnect();
    reused = false;
    LastErrorNo = 0;
    SecureFailure.clear();
    CertificateRefused = false;
  }
  if (!result.ok) return result;
  result = ReadBody();
  if (!result.ok) return result;
  // Through a proxy, an http request's reply may be the proxy's own: a demand for credentials.
  if (route.via_proxy && !Secure && (ReplyNumber == 407 || facts_.proxy_challenge)) {
    return RefusedByProxy(route);
  }
  if (ReplyNumber == 304 && !condition_sent_) {
    return Refuse("Refused the reply of " + Host + ": 304 Not Modified to a request without a condition",
                  FailureKind::kReplyRefused);
  }

  if (ReplyNumber < 299) {
    http_events_->OnSuccess(Command);
    Report(kStatusTransaction, "Transaction Completed");
  } else if (ReplyNumber >= 400) {
    http_events_->OnFailure(Command);
  }
  return FollowLocation();
}

SockResult TKestHTTP::OpenRoute(const Route& route) {
  Report(kStatusTrace, "Connecting");
  SockResult result =
      ConnectTcp(route.via_proxy ? route.proxy.host : std::string(), route.proxy.port);
  if (!result.ok) {
    if (route.via_proxy && !abort_request_ && !TimedOut) {
      Refusal = "Cannot reach the proxy " + HostAndPort(route.proxy.host, route.proxy.port) + ": " +
                (LastErrorNo != 0 ? SocketErrorText(LastErrorNo) : result.error);
    }
    return result;
  }
  if (route.via_proxy && Secure) {
    result = OpenTunnel(route);
    if (!result.ok) return result;
  }
  if (Secure) {
    result = StartTls();
    if (!result.ok) return result;
  }
  kept_key_ = route.key;
  RaiseConnect();
  return {};
}

SockResult TKestHTTP::RefusedByProxy(const Route& route) {
  return Refuse("Refused by the proxy " + HostAndPort(route.proxy.host, route.proxy.port) + ": " +
                    std::to_string(ReplyNumber) +
                    (reply_reason_.empty() ? "" : " " + reply_reason_),
                FailureKind::kProxyRefused);
}

SockResult TKestHTTP::OpenTunnel(const Route& route) {
  const std::string proxy = HostAndPort(route.proxy.host, route.proxy.port);
  const std::string target = HostAndPort(Host, Port);
  std::vector<std::string> lines = {"CONNECT " + target + " HTTP/1.1", "Host: " + target};
  if (!route.proxy.user.empty()) {
    lines.push_back("Proxy-Authorization: Basic " +
                    Base64Encode(route.proxy.user + ":" + route.proxy.password));
  }
  SockResult result = Write(JoinRequestHeader(lines));
  if (!result.ok) return result;
  std::string text;
  std::size_t header_bytes = 0;
  bool status_line = true;
  ReplyHeaderFacts ignored;
  result = ReadHeaderBlock(text, header_bytes, true, ignored, status_line, false);
  if (!result.ok && !status_line) {
    return Refuse("Refused by the proxy " + proxy + ": no HTTP status line",
                  FailureKind::kProxyRefused);
  }
  if (!result.ok) {
    return Refuse("Refused by the proxy " + proxy + ": " + result.error,
                  FailureKind::kProxyRefused, result.error);
  }
  const std::string first = text.substr(0, text.find('\n') + 1);
  const int status = ReplyStatusNumber(first);
  if (status < 200 || status > 299) {
    const std::string reason = ReplyReason(first);  // as RefusedByProxy words it
    return Refuse("Refused by the proxy " + proxy + ": " + std::to_string(status) +
                      (reason.empty() ? "" : " " + reason),
                  FailureKind::kProxyRefused);
  }
  // The server speaks first only after the client's hello: any byte here is the proxy's.
  if (UnreadBytes() > 0) {
    return Refuse("Refused by the proxy " + proxy + ": bytes after its reply",
                  FailureKind::kProxyRefused);
  }
  return {};
}

SockResult TKestHTTP::ReadHeaderBlock(std::string& text, std::size_t& header_bytes,
                                      bool restart_countdown, ReplyHeaderFacts& facts,
                                      bool& status_line, bool sets_reply_number) {
  std::string line;
  status_line = true;
  for (bool first = true;; first = false) {
    // One deadline for the whole header: a server cannot hold a request by dripping it.
    SockResult result = ReadLn(line, first && restart_countdown);
    if (!result.ok) return result;
    header_bytes += line.size();
    if (header_bytes > kMaxReplyHeaderBytes) return Fail("Reply header longer than 1048576 bytes");
    text += line;
    // A line without its line feed came last, before the server closed.
    if (line.empty() || line.back() != '\n') {
      return Fail(first && line.empty() ? "Connection closed before the reply"
                                        : "Connection closed within the reply header");
    }
    if (first) {
      if (!IsStatusLine(line)) {
        status_line = false;
        return Fail("no HTTP status line");
      }
      // Known as soon as it came: a reply cut off within its header still names its number.
      if (sets_reply_number) ReplyNumber = ReplyStatusNumber(line);
      continue;
    }
    if (EndsReplyHeader(line)) break;
    TakeReplyHeaderLine(facts, line);
  }
  EndReplyHeaderFacts(facts);
  return {};
}

SockResult TKestHTTP::ReadReplyHeader() {
  std::FILE* file = nullptr;
  if (OutputFileMode) {
    file = std::fopen(Header.c_str(), "wb");
    if (file == nullptr) return Fail("Cannot create " + Header);
  } else {
    Header.clear();
  }
  // Nothing of an earlier reply may pass for this one's.
  ReceivedCookie.clear();
  Location.clear();
  ReplyEtag.clear();
  ReplyLastModified = -1;
  BytesTotal = 0;
  BytesRecvd = 0;
  reply_version_ = 0;
  reply_reason_.clear();
  body_whole_ = false;

  SockResult result;
  std::string text;
  std::size_t header_bytes = 0;
  for (int interim = 0;; ++interim) {
    text.clear();
    facts_ = {};
    bool status_line = true;
    result = ReadHeaderBlock(text, header_bytes, true, facts_, status_line, true);
    if (!status_line) {
      result = Refuse("Refused the reply of " + Host + ": no HTTP status line",
                      FailureKind::kReplyRefused);
    }
    if (!result.ok) break;
    reply_version_ = ReplyVersion(text.substr(0, text.find('\n') + 1));
    reply_reason_ = ReplyReason(text.substr(0, text.find('\n') + 1));
    // 100 Continue and 103 Early Hints come before the reply; 101 would leave HTTP.
    if (ReplyNumber < 100 || ReplyNumber > 199) break;
    if (ReplyNumber == 101 || interim == kMaxInterimReplies) {
      result = Refuse("Refused the reply of " + Host + ": " + std::to_string(ReplyNumber) +
                          (ReplyNumber == 101 ? " Switching Protocols" : " after too many interim replies"),
                      FailureKind::kReplyRefused);
      break;
    }
  }
  if (file != nullptr) {
    if ((std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fclose(file) != 0) &&
        result.ok) {
      result = Fail("Cannot write " + Header);
    }
  } else {
    Header = std::move(text);
  }
  ReceivedCookie = facts_.cookie;
  Location = facts_.location;
  ReplyEtag = facts_.etag;
  ReplyLastModified = facts_.last_modified;
  // The chunked coding frames the body whatever a Content-Length beside it says (RFC 9112, 6.3).
  BytesTotal = facts_.has_length && !facts_.chunked ? facts_.length : 0;
  return result;
}

SockResult TKestHTTP::ReadBody() {
  body_whole_ = false;
  const std::string refused = "Refused the reply of " + Host + ": ";
  if (!facts_.field_error.empty()) {
    return Refuse(refused + facts_.field_error, FailureKind::kReplyRefused);
  }
  // A HEAD reply, 1xx, 204 and 304 have no body, whatever their header says.
  const bool has_body =
      Command != kCmdHead && ReplyNumber >= 200 && ReplyNumber != 204 && ReplyNumber != 304;
  const bool whole = ReplyNumber >= 200 && ReplyNumber <= 299;
  const bool chunked = has_body && facts_.chunked;
  if (!chunked && !facts_.length_error.empty()) {
    return Refuse(refused + facts_.length_error, FailureKind::kReplyRefused);
  }
  if (has_body && whole && !facts_.coding.empty()) {
    return Refuse(refused + facts_.coding + " (only identity is read)",
                  FailureKind::kReplyRefused);
  }
  // The body ends after Content-Length bytes, at the chunked coding's last chunk, or (without
  // either) when the server closes the connection.
  std::int64_t expected = -1;
  if (!has_body) {
    expected = 0;
  } else if (!chunked && facts_.has_length) {
    expected = facts_.length;
  }
  const std::string too_large = "Socket capture longer than " + std::to_string(MaxBodyFileBytes) +
                                " bytes";
  const std::string too_large_line =
      refused + "a body longer than " + std::to_string(MaxBodyFileBytes) + " bytes";
  if (InputFileMode && MaxBodyFileBytes >= 0 && expected > MaxBodyFileBytes) {
    return Refuse(too_large_line, FailureKind::kBodyTooLarge, too_large);
  }
  ChunkedFraming chunks;
  LengthFraming sized(expected);
  BodyFraming& framing = chunked ? static_cast<BodyFraming&>(chunks) : sized;
  const SockResult result = InputFileMode ? CaptureFile(Body, MaxBodyFileBytes, framing)
                                          : CaptureString(Body, kMaxBodyTextBytes, framing);
  if (!result.ok) {
    if (!chunks.Failure().empty()) {
      return Refuse(refused + chunks.Failure(), FailureKind::kReplyRefused, result.error);
    }
    if (InputFileMode && result.error == too_large) {
      return Refuse(too_large_line, FailureKind::kBodyTooLarge, too_large);
    }
    return result;
  }
  const CaptureEnd end = LastCaptureEnd();
  if (chunked && end != CaptureEnd::kComplete && end != CaptureEnd::kLimit) {
    return Refuse(refused + "the connection closed before the last chunk",
                  FailureKind::kIncompleteBody);
  }
  // Without the closing alert nothing tells a whole body from one cut short by whoever closed.
  if (whole && expected < 0 && !chunked && end == CaptureEnd::kCutOff) {
    return Refuse(refused + "the body ended without TLS's closing alert: it may be cut short",
                  FailureKind::kIncompleteBody);
  }
  body_whole_ = end == CaptureEnd::kComplete;
  return {};
}

SockResult TKestHTTP::FollowLocation() {
  const int reply = ReplyNumber;
  const bool moved = (reply >= 300 && reply <= 303) || reply == 307 || reply == 308;
  if (!moved || Location.empty()) {
    if (reply >= 300 && reply <= 302) Url = Location;  // empty: the request ends with the reply
    return {};
  }
  const std::string from = CurrentUrl();
  if (!facts_.location_error.empty()) {
    return Refuse("Refused the redirection from " + from + ": " + facts_.location_error,
                  FailureKind::kRedirectionRefused);
  }
  const std::string target = ResolveReference(from, Location);
  const std::string scheme = UrlScheme(target);
  const std::string refused = "Refused the redirection from " + from + " to " + target + ": ";
  if (scheme != "http" && scheme != "https") {
    return Refuse(refused + "neither http nor https", FailureKind::kRedirectionRefused);
  }
  if (Secure && scheme == "http") {
    return Refuse(refused + "from https down to http", FailureKind::kRedirectionRefused);
  }
  if (target.size() > kMaxUrl) {
    return Refuse("Refused the redirection from " + from + ": URL longer than 2047 characters",
                  FailureKind::kRedirectionRefused);
  }
  // The target is read now, so a port, a host or a backslash that cannot be used is refused
  // with the redirection named.
  const ParsedUrl parsed = ParseUrl(target, Host, Port, Secure);
  if (!parsed.ok) return Refuse(refused + parsed.error, FailureKind::kRedirectionRefused);
  Url = target;
  return {};
}

}  // namespace http
