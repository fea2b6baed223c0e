#include "boxtally/http/kest_http.h"

#include <cstdio>
#include <string>

namespace http {
namespace {

HttpEvents& NoHttpEvents() {
  static HttpEvents none;
  return none;
}

SockResult Fail(std::string text) { return SockResult{false, std::move(text)}; }


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

SockResult TKestHTTP::Refuse(std::string why) {
  Refusal = std::move(why);
  return Fail(Refusal);
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
  abort_request_ = false;
  Refusal.clear();
  for (int repeats = 0;; ++repeats) {
    // Connect clears the canceled flag, so an Abort from OnRedirect is kept here.
    if (repeats > 0 && abort_request_) return Fail("Connection Canceled");
    const ParsedUrl parsed = ParseUrl(Url, Host, Port, Secure);
    if (!parsed.ok) {
      // A URL past its bound or holding a blank is refused with a line of its own; the older
      // errors ("Empty URL", a bad port) stay as they were.
      if (parsed.error.rfind("URL ", 0) == 0) {
        return Refuse("Refused the URL: " + parsed.error);
      }
      return Fail(parsed.error);
    }
    const bool through_proxy = !Proxy.empty();
    if (parsed.secure && through_proxy) return Refuse("Refused the URL: https through a proxy");
    Url = parsed.url;
    RequestPath = parsed.path;
    Host = parsed.host;
    Port = parsed.port;
    Secure = parsed.secure;
    SendHeader = ComposeRequestHeader(method_word, through_proxy ? Url : RequestPath,
                                      HostField(Host, Port, Secure), through_proxy, InfoToSend());
    http_events_->OnAboutToSend();
    // A line break in a value would end the line early and start another the server obeys.
    for (const std::string& line : SendHeader) {
      if (HoldsControlByte(line)) {
        return Refuse("Refused the request to " + Host + ": a header line holds a control byte");
      }
    }

    const SockResult exchanged = Exchange();
    Disconnect();
    if (!exchanged.ok) return exchanged;

    const int reply = ReplyNumber;
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
    if (repeats == kMaxRequestRepeats) return Fail("Too many redirections");
  }
}

SockResult TKestHTTP::Exchange() {
  SockResult result = Connect();
  if (!result.ok) {
    if (Secure && !SecureFailure.empty()) {
      Refusal = CertificateRefused ? "Refused the certificate of " + Host + ": " + SecureFailure
                                   : "Secure connection to " + Host + " failed: " + SecureFailure;
    }
    return result;
  }
  result = Write(JoinRequestHeader(SendHeader));
  if (!result.ok) return result;
  ReplyNumber = 0;
  result = ReadReplyHeader();
  if (!result.ok) return result;
  result = ReadBody();
  if (!result.ok) return result;

  if (ReplyNumber < 299) {
    http_events_->OnSuccess(Command);
    Report(kStatusTransaction, "Transaction Completed");
  } else if (ReplyNumber >= 400) {
    http_events_->OnFailure(Command);
  }
  return FollowLocation();
}

SockResult TKestHTTP::ReadBody() {
  if (!facts_.length_error.empty()) {
    return Refuse("Refused the reply of " + Host + ": " + facts_.length_error);
  }
  // A HEAD reply, 1xx, 204 and 304 have no body, whatever their header says.
  const bool has_body =
      Command != kCmdHead && ReplyNumber >= 200 && ReplyNumber != 204 && ReplyNumber != 304;
  const bool whole = ReplyNumber >= 200 && ReplyNumber <= 299;
  if (has_body && whole && !facts_.coding.empty()) {
    return Refuse("Refused the reply of " + Host + ": " + facts_.coding +
                  " (only identity is read)");
  }
  // The body ends after Content-Length bytes; without it (or in a transfer coding, on an error
  // page) when the server closes the connection.
  std::int64_t expected = -1;
  if (!has_body) {
    expected = 0;
  } else if (facts_.has_length && facts_.coding.empty()) {
    expected = facts_.length;
  }
  if (InputFileMode && MaxBodyFileBytes >= 0 && expected > MaxBodyFileBytes) {
    return Fail("Socket capture longer than " + std::to_string(MaxBodyFileBytes) + " bytes");
  }
  return InputFileMode ? CaptureFile(Body, MaxBodyFileBytes, expected)
                       : CaptureString(Body, kMaxBodyTextBytes, expected);
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
    return Refuse("Refused the redirection from " + from + ": " + facts_.location_error);
  }
  const std::string target = ResolveReference(from, Location);
  const std::string scheme = UrlScheme(target);
  if (scheme != "http" && scheme != "https") {
    return Refuse("Refused the redirection from " + from + " to " + target +
                  ": neither http nor https");
  }
  if (Secure && scheme == "http") {
    return Refuse("Refused the redirection from " + from + " to " + target +
                  ": from https down to http");
  }
  if (target.size() > kMaxUrl) {
    return Refuse("Refused the redirection from " + from + ": URL longer than 2047 characters");
  }
  Url = target;
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
  BytesTotal = 0;
  BytesRecvd = 0;
  facts_ = {};

  SockResult result;
  std::size_t header_bytes = 0;
  std::string line;
  for (bool first = true;; first = false) {
    // One deadline for the whole header: a server cannot hold a request by dripping it.
    result = ReadLn(line, /*restart_countdown=*/first);
    if (!result.ok) break;
    header_bytes += line.size();
    if (header_bytes > kMaxReplyHeaderBytes) {
      result = Fail("Reply header longer than 1048576 bytes");
      break;
    }
    if (file != nullptr) {
      if (std::fwrite(line.data(), 1, line.size(), file) != line.size()) {
        result = Fail("Cannot write " + Header);
        break;
      }
    } else {
      Header += line;
    }
    // A line without its line feed came last, before the server closed.
    if (line.empty() || line.back() != '\n') {
      result = Fail(first && line.empty() ? "Connection closed before the reply"
                                          : "Connection closed within the reply header");
      break;
    }
    if (first) {
      if (!IsStatusLine(line)) {
        result = Refuse("Refused the reply of " + Host + ": no HTTP status line");
        break;
      }
      ReplyNumber = ReplyStatusNumber(line);
      continue;
    }
    if (EndsReplyHeader(line)) break;
    TakeReplyHeaderLine(facts_, line);
  }
  ReceivedCookie = facts_.cookie;
  Location = facts_.location;
  BytesTotal = facts_.has_length ? facts_.length : 0;
  if (file != nullptr && std::fclose(file) != 0 && result.ok)
    result = Fail("Cannot write " + Header);
  return result;
}

}  // namespace http
