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

SockResult TKestHTTP::RequestLoop(std::string_view method_word) {
  abort_request_ = false;
  for (int repeats = 0;; ++repeats) {
    // Connect clears the canceled flag, so an Abort from OnRedirect is kept here.
    if (repeats > 0 && abort_request_) return Fail("Connection Canceled");
    const ParsedUrl parsed = ParseUrl(Url, Host, Port);
    if (!parsed.ok) return Fail(parsed.error);
    Url = parsed.url;
    RequestPath = parsed.path;
    Host = parsed.host;
    Port = parsed.port;
    const bool through_proxy = !Proxy.empty();
    SendHeader = ComposeRequestHeader(method_word, through_proxy ? Url : RequestPath, Host,
                                      through_proxy, HeaderInfo);
    http_events_->OnAboutToSend();

    const SockResult exchanged = Exchange();
    Disconnect();
    if (!exchanged.ok) return exchanged;

    const int reply = ReplyNumber;
    if (reply >= 300 && reply <= 398) {
      if (!ReceivedCookie.empty()) HeaderInfo.Cookie = ReceivedCookie;
      bool handled = false;
      http_events_->OnRedirect(handled);
      if (handled) return {};
      // A redirection that names no target cannot be followed: the request ends with it.
      if (reply <= 302 && Location.empty()) return {};
      // A bare name is a file at the root of the current server, not a host name; the port
      // is written out unless it is the one "http:" stands for.
      if (Url.find('/') == std::string::npos) {
        std::string rebuilt = "http://";
        rebuilt += Host;
        if (Port != kDefaultPort) {
          rebuilt += ':';
          rebuilt += std::to_string(Port);
        }
        rebuilt += '/';
        rebuilt += Url;
        Url = std::move(rebuilt);
      }
    }
    if (reply == 401) http_events_->OnAuthenticationNeeded();
    if (reply < 299 || reply > 399) return {};
    // 299 and 303 to 399 send the same request again, and redirections may loop: both end here.
    if (repeats == kMaxRequestRepeats) return Fail("Too many redirections");
  }
}

SockResult TKestHTTP::Exchange() {
  SockResult result = Connect();
  if (!result.ok) return result;
  result = Write(JoinRequestHeader(SendHeader));
  if (!result.ok) return result;
  ReplyNumber = 0;
  result = ReadReplyHeader();
  if (!result.ok) return result;
  // The body ends when the server closes the connection; Content-Length does not end it.
  result =
      InputFileMode ? CaptureFile(Body, MaxBodyFileBytes) : CaptureString(Body, kMaxBodyTextBytes);
  if (!result.ok) return result;

  if (ReplyNumber < 299) {
    http_events_->OnSuccess(Command);
    Report(kStatusTransaction, "Transaction Completed");
  } else if (ReplyNumber >= 400) {
    http_events_->OnFailure(Command);
  }
  if (ReplyNumber >= 300 && ReplyNumber <= 302) Url = Location;
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
  ReceivedCookie.clear();
  // A reply without a Location line must not send a redirection to an earlier reply's target.
  Location.clear();
  BytesTotal = 0;

  SockResult result;
  std::size_t header_bytes = 0;
  std::string line;
  for (bool first = true;; first = false) {
    result = ReadLn(line);
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
    if (first) {
      if (!line.empty()) ReplyNumber = ReplyStatusNumber(line);
      if (line.empty()) break;  // closed before any reply
      continue;
    }
    if (EndsReplyHeader(line)) break;
    const ReplyFieldValue field = ReadReplyField(line);
    switch (field.field) {
      case ReplyField::kSetCookie:
        ReceivedCookie = field.text;
        break;
      case ReplyField::kLocation:
        Location = field.text;
        break;
      case ReplyField::kContentLength:
        BytesTotal = field.number;
        break;
      case ReplyField::kNone:
        break;
    }
  }
  if (file != nullptr && std::fclose(file) != 0 && result.ok)
    result = Fail("Cannot write " + Header);
  return result;
}

}  // namespace http
