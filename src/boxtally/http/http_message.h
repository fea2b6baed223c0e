// The socket-free parts of the HTTP/1.0 client: URL parsing, request header composition, the
// header list's SetHeaderValue, Base64, and the reading of single reply header lines. TKestHTTP
// puts them together with the socket; tests and the fuzz target reach them directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace http {

inline constexpr std::size_t kMaxRequestPath = 256;  // characters of the request path kept
inline constexpr std::size_t kMaxReplyField = 256;   // characters kept of Location, Set-Cookie
inline constexpr int kDefaultPort = 80;

// The request header fields that the owner sets before a request (or in OnAboutToSend, for the
// next one). Names follow the component's properties.
struct THeaderInfo {
  std::string LocalMailAddress;
  std::string LocalProgram;
  std::string Cookie;
  std::string Referer;
  std::string UserId;
  std::string Password;
};

// What URL parsing yields. On failure (`ok` false) `error` holds the text to raise and the
// other fields are not meaningful.
struct ParsedUrl {
  bool ok = true;
  std::string error;
  std::string url;   // the URL, with "/" appended when it had no request path
  std::string path;  // the request path, "/" at least, at most kMaxRequestPath characters
  std::string host;  // the new Host: the URL's host name, or the previous Host when it has none
  int port = 0;      // the new Port: from the scheme or the host part, else the previous Port
};

// Parses `url` against the component's current Host and Port: "Empty URL" for an empty URL,
// "HTTP Secure Socket is not supported" for https, "Invalid port in URL" for a port in the host
// part that is not a number from 1 to 65535.
ParsedUrl ParseUrl(std::string_view url, std::string_view current_host, int current_port);

// The request header lines of one request, in sending order (without line ends).
// `method_word` is "GET ", "HEAD ", ...; `target` the request path, or the whole URL through a
// proxy.
std::vector<std::string> ComposeRequestHeader(std::string_view method_word, std::string_view target,
                                              std::string_view host, bool through_proxy,
                                              const THeaderInfo& info);

// The bytes sent for a header list: every line followed by CR LF, then one more CR LF.
std::string JoinRequestHeader(const std::vector<std::string>& lines);

// Finds the first line whose text before its first ':' equals `name` regardless of case. A
// non-empty value replaces that line (or appends one when there is none) with name ": " value;
// an empty value deletes the line when there is one.
void SetHeaderValue(std::vector<std::string>& lines, std::string_view name, std::string_view value);

// Base64 with the RFC 2045 alphabet and '=' padding, on one line whatever the length.
std::string Base64Encode(std::string_view bytes);

// The status code of a reply's first line: its second space-separated field as a decimal
// number; 0 when that field is missing, is not a number or does not fit in 16 bits.
std::int16_t ReplyStatusNumber(std::string_view line);

// Whether a reply header line ends the header: empty apart from its line end, or empty because
// the connection closed.
bool EndsReplyHeader(std::string_view line);

// What one further reply header line sets, if anything.
enum class ReplyField { kNone, kSetCookie, kLocation, kContentLength };
struct ReplyFieldValue {
  ReplyField field = ReplyField::kNone;
  std::string text;         // Set-Cookie and Location: the value, without the line end
  std::int64_t number = 0;  // Content-Length: the length, 0 when it is no number
};
ReplyFieldValue ReadReplyField(std::string_view line);

}  // namespace http
