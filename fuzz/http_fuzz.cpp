// The HTTP client's text handling without a socket: the input's first line is a URL (parsed as a
// request would, and also as a proxy URL, a no_proxy list and an HTTP date), the rest is a reply
// header read line by line as TKestHTTP reads it (folded lines included), then a chunked body fed
// in pieces. The Location is resolved against the URL as a redirection would be, and the values
// found go through header composition. The limits the client relies on are checked, so a breach
// stops the fuzzer like a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "boxtally/http/http_message.h"
#include "boxtally/http/proxy.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The chunked body in pieces whose sizes come from the body's own first byte.
void ReadChunked(std::string_view body) {
  http::ChunkedBody chunked;
  std::string data;
  const std::size_t piece = body.empty() ? 1 : static_cast<unsigned char>(body[0]) % 7 + 1;
  std::size_t taken = 0;
  for (std::size_t at = 0; at < body.size(); at += piece) {
    const std::string part(body.substr(at, piece));  // its own buffer, for ASan
    const std::size_t took = http::TakeChunked(chunked, part, data);
    Check(took <= part.size());
    taken += took;
    if (took < part.size()) {
      Check(chunked.stage == http::ChunkedBody::Stage::kDone ||
            chunked.stage == http::ChunkedBody::Stage::kFailed);
      break;
    }
  }
  Check(data.size() <= taken);
  Check(chunked.line.size() <= http::kMaxChunkLine);
  Check((chunked.stage == http::ChunkedBody::Stage::kFailed) == !chunked.error.empty());
}

void ReadFirstLineOtherwise(std::string_view line, const std::string& host) {
  const http::ParsedProxy proxy = http::ParseProxyUrl(line);
  if (proxy.ok) {
    Check(!proxy.server.host.empty() && proxy.server.port >= 1 && proxy.server.port <= 65535);
    Check(!http::HoldsControlByte(proxy.server.host));
    (void)http::ProxyName(proxy.server);
  } else {
    Check(!proxy.error.empty());
  }
  (void)http::NoProxyNames(line, host);
  (void)http::NoProxyNames(host, line);
  if (const auto seconds = http::ParseHttpDate(line)) {
    Check(*seconds >= 0);
    Check(http::ParseHttpDate(http::FormatHttpDate(*seconds)) == seconds);
  }
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
    Check(!http::HoldsControlByte(parsed.url) && !http::HoldsControlByte(parsed.host));
    // What goes into the Host line and the connection: never a user's name or password.
    Check(parsed.host.find('@') == std::string::npos);
    Check(parsed.host.find(':') == std::string::npos || http::IsIpAddress(parsed.host));
    host = parsed.host;
    path = parsed.path;
    secure = parsed.secure;
    port = parsed.port;
  } else {
    Check(!parsed.error.empty());
  }
  ReadFirstLineOtherwise(url, host);

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
      if (http::IsStatusLine(line)) {
        Check(http::ReplyStatusNumber(line) >= 0);
        Check(http::ReplyVersion(line) >= 0);
        Check(!http::HoldsControlByte(http::ReplyReason(line)));
      }
      continue;
    }
    if (http::EndsReplyHeader(line)) break;
    http::TakeReplyHeaderLine(facts, line);
  }
  http::EndReplyHeaderFacts(facts);
  Check(facts.pending.empty());
  Check(facts.length >= 0);
  Check(facts.cookie.size() <= http::kMaxCookie && !http::HoldsControlByte(facts.cookie));
  Check(facts.coding.size() <= 64 + http::kMaxQuotedValue);
  Check(facts.etag.size() <= http::kMaxEtag && !http::HoldsControlByte(facts.etag));
  Check(facts.last_modified >= -1);
  if (!facts.location.empty() && facts.location_error.empty()) {
    Check(facts.location.size() <= http::kMaxUrl && !http::HoldsControlByte(facts.location));
    const std::string base =
        std::string(secure ? "https://" : "http://") + http::HostField(host, port, secure) + path;
    const std::string target = http::ResolveReference(base, facts.location);
    Check(target.find(':') != std::string::npos);  // every target has a scheme
    (void)http::ParseUrl(target, host, port, secure);
  }
  ReadChunked(reply.substr(start));

  http::THeaderInfo info;
  info.Cookie = facts.cookie;
  info.Referer = facts.location;
  info.UserId = host;
  info.Password = info.Cookie;
  info.IfNoneMatch = facts.etag;
  if (facts.last_modified >= 0) info.IfModifiedSince = http::FormatHttpDate(facts.last_modified);
  std::vector<std::string> lines =
      http::ComposeRequestHeader("GET ", path, http::HostField(host, port, secure), false, info);
  http::SetHeaderValue(lines, "Cookie", "");
  http::SetHeaderValue(lines, info.Referer.substr(0, info.Referer.find(':')), host);
  Check(!lines.empty() && lines.front().find(" HTTP/1.1") != std::string::npos);
  const std::string encoded = http::Base64Encode(info.Cookie);
  Check(encoded.size() == (info.Cookie.size() + 2) / 3 * 4);
  return 0;
}
