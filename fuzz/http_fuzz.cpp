// The HTTP client's text handling without a socket: the input's first line is a URL (parsed as
// a request would), the rest is a reply header read line by line, as TKestHTTP reads it; its
// Location is resolved against the URL as a redirection would be, and the values found go
// through header composition. The limits the client relies on are checked, so a breach stops the
// fuzzer like a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "boxtally/http/http_message.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t url_end = input.find('\n');
  const std::string_view url = input.substr(0, url_end);
  const std::string_view reply =
      url_end == std::string_view::npos ? std::string_view() : input.substr(url_end + 1);

  const http::ParsedUrl parsed = http::ParseUrl(url, "old.example", 8080, false);
  std::string host = "old.example";
  std::string path = "/";
  bool secure = false;
  int port = 8080;
  if (parsed.ok) {
    Check(!parsed.path.empty() && parsed.path.size() <= http::kMaxUrl);
    Check(parsed.port >= 1 && parsed.port <= 65535);
    Check(!http::HoldsControlByte(parsed.url));
    host = parsed.host;
    path = parsed.path;
    secure = parsed.secure;
    port = parsed.port;
  } else {
    Check(!parsed.error.empty());
  }

  http::ReplyHeaderFacts facts;
  std::size_t start = 0;
  bool first = true;
  while (start < reply.size()) {
    const std::size_t feed = reply.find('\n', start);
    const std::size_t end = feed == std::string_view::npos ? reply.size() : feed + 1;
    const std::string_view line = reply.substr(start, end - start);
    start = end;
    if (first) {
      first = false;
      if (http::IsStatusLine(line)) Check(http::ReplyStatusNumber(line) >= 0);
      continue;
    }
    if (http::EndsReplyHeader(line)) break;
    http::TakeReplyHeaderLine(facts, line);
  }
  Check(facts.length >= 0);
  Check(facts.cookie.size() <= http::kMaxCookie && !http::HoldsControlByte(facts.cookie));
  Check(facts.coding.size() <= 64 + http::kMaxQuotedValue);
  if (!facts.location.empty() && facts.location_error.empty()) {
    Check(facts.location.size() <= http::kMaxUrl && !http::HoldsControlByte(facts.location));
    const std::string base =
        std::string(secure ? "https://" : "http://") + http::HostField(host, port, secure) + path;
    const std::string target = http::ResolveReference(base, facts.location);
    Check(target.find(':') != std::string::npos);  // every target has a scheme
    (void)http::ParseUrl(target, host, port, secure);
  }

  http::THeaderInfo info;
  info.Cookie = facts.cookie;
  info.Referer = facts.location;
  info.UserId = host;
  info.Password = info.Cookie;
  std::vector<std::string> lines =
      http::ComposeRequestHeader("GET ", path, http::HostField(host, port, secure), false, info);
  http::SetHeaderValue(lines, "Cookie", "");
  http::SetHeaderValue(lines, info.Referer.substr(0, info.Referer.find(':')), host);
  Check(!lines.empty() && lines.front().find(" HTTP/1.1") != std::string::npos);
  const std::string encoded = http::Base64Encode(info.Cookie);
  Check(encoded.size() == (info.Cookie.size() + 2) / 3 * 4);
  return 0;
}
