// The HTTP client's text handling without a socket: the input's first line is a URL (parsed as
// a request or a redirection would), the rest is a reply header read line by line, as
// TKestHTTP reads it; the values found then go through header composition. The limits the
// client relies on are checked, so a breach stops the fuzzer like a crash.
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

  const http::ParsedUrl parsed = http::ParseUrl(url, "old.example", 8080);
  std::string host = "old.example";
  std::string path = "/";
  if (parsed.ok) {
    Check(!parsed.path.empty() && parsed.path.size() <= http::kMaxRequestPath);
    Check(parsed.port >= 1 && parsed.port <= 65535);
    host = parsed.host;
    path = parsed.path;
  } else {
    Check(!parsed.error.empty());
  }

  http::THeaderInfo info;
  std::size_t start = 0;
  bool first = true;
  while (start < reply.size()) {
    const std::size_t feed = reply.find('\n', start);
    const std::size_t end = feed == std::string_view::npos ? reply.size() : feed + 1;
    const std::string_view line = reply.substr(start, end - start);
    start = end;
    if (first) {
      first = false;
      (void)http::ReplyStatusNumber(line);
      continue;
    }
    if (http::EndsReplyHeader(line)) break;
    const http::ReplyFieldValue field = http::ReadReplyField(line);
    Check(field.text.size() <= http::kMaxReplyField);
    Check(field.number >= 0);
    if (field.field == http::ReplyField::kSetCookie) info.Cookie = field.text;
    if (field.field == http::ReplyField::kLocation) info.Referer = field.text;
  }
  info.UserId = host;
  info.Password = info.Cookie;
  std::vector<std::string> lines = http::ComposeRequestHeader("GET ", path, host, false, info);
  http::SetHeaderValue(lines, "Cookie", "");
  http::SetHeaderValue(lines, info.Referer.substr(0, info.Referer.find(':')), host);
  Check(!lines.empty() && lines.front().find(" HTTP/1.0") != std::string::npos);
  const std::string encoded = http::Base64Encode(info.Cookie);
  Check(encoded.size() == (info.Cookie.size() + 2) / 3 * 4);
  return 0;
}
