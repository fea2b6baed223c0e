// The socket-free parts of the HTTP/1.1 client: URL parsing, request header composition, the
// header list's SetHeaderValue, Base64, the reading of reply header lines, chunked bodies and
// HTTP dates. TKestHTTP puts them together with the socket; tests and the fuzz target reach them
// directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace http {

// A URL, a request path or a Location longer than this is refused, never cut: a cut one names
// another resource.
inline constexpr std::size_t kMaxUrl = 2047;     // characters
inline constexpr std::size_t kMaxCookie = 4096;  // bytes of a Set-Cookie value; longer: not kept
inline constexpr int kDefaultPort = 80;          // of "http:"
inline constexpr int kDefaultSecurePort = 443;   // of "https:"

// The request header fields that the owner sets before a request (or in OnAboutToSend, for the
// next one). Names follow the component's properties; the two conditions make a GET conditional
// (an If-Modified-Since date as FormatHttpDate writes it, an ETag as the server gave it).
struct THeaderInfo {
  std::string LocalMailAddress;
  std::string LocalProgram;
  std::string Cookie;
  std::string Referer;
  std::string UserId;
  std::string Password;
  std::string IfModifiedSince;
  std::string IfNoneMatch;
};

// What URL parsing yields. On failure (`ok` false) `error` holds the text to raise and the
// other fields are not meaningful.
struct ParsedUrl {
  bool ok = true;
  std::string error;
  std::string url;      // the URL, with "/" appended when it had no request path
  std::string path;     // the request path, "/" at least, whole
  std::string host;     // the new Host: the URL's host name, or the previous Host when it has none
  int port = 0;         // the new Port: from the scheme or the host part, else the previous Port
  bool secure = false;  // "https:", or the previous connection's kind for a URL without a scheme
};

// Parses `url` against the component's current Host, Port and kind of connection: "Empty URL"
// for an empty URL, "URL longer than 2047 characters", "URL holding a blank or a control byte",
// "URL holding a backslash", "Invalid port in URL" for a port in the host part that is not a
// number from 1 to 65535, "Invalid host in URL" for a bracketed host that is no IPv6 address.
// "https:" gives port 443 and a secure connection. The host part's "user:password@" is dropped
// (never sent anywhere); an IPv6 literal ("[::1]") gives the address without its brackets; an
// IPv4 address in any form the resolver takes ("127.1", "0x7f000001") gives its dotted form.
ParsedUrl ParseUrl(std::string_view url, std::string_view current_host, int current_port,
                   bool current_secure = false);

// Whether `host` is an IP address (IPv4 dotted, or IPv6 without brackets).
bool IsIpAddress(std::string_view host);

// The value of the Host line: the host (an IPv6 address in brackets), and ":" and the port when
// it is not the default port of the scheme (80, or 443 when secure).
std::string HostField(std::string_view host, int port, bool secure);

// `reference` (a Location) resolved against the absolute URL `base` as RFC 3986, section 5.2
// says: a relative reference keeps the base's scheme, host and port, dot segments are removed, a
// fragment is dropped. "x.zip", "../objs/x.zip", "/objs/x.zip", "//host/x.zip" are relative;
// "host:8080/x" has the scheme "host" (a host and port are read only after "//").
std::string ResolveReference(std::string_view base, std::string_view reference);

// The scheme of a URL in lower case ("http", "https"), empty when it has none.
std::string UrlScheme(std::string_view url);

// Whether the text holds a byte that must not reach a request: below 0x20 other than the tab,
// or 0x7F.
bool HoldsControlByte(std::string_view text);

// The request header lines of one request, in sending order (without line ends).
// `method_word` is "GET ", "HEAD ", ...; `target` the request path, or the whole URL through a
// proxy. The request line ends in " HTTP/1.1": connections are kept between requests.
std::vector<std::string> ComposeRequestHeader(std::string_view method_word, std::string_view target,
                                              std::string_view host, bool through_proxy,
                                              const THeaderInfo& info);

// The bytes sent for a header list: every line followed by CR LF, then one more CR LF.
std::string JoinRequestHeader(const std::vector<std::string>& lines);

// Finds the first line whose text before its first ':' equals `name` regardless of case. A
// non-empty value replaces that line (or appends one when there is none) with name ": " value;
// an empty value deletes the line when there is one.
void SetHeaderValue(std::vector<std::string>& lines, std::string_view name, std::string_view value);

// Whether two texts are equal, ASCII letters compared without regard to case (header names, host
// names).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Base64 with the RFC 2045 alphabet and '=' padding, on one line whatever the length.
std::string Base64Encode(std::string_view bytes);

// Whether a reply's first line is a status line: "HTTP/", a version of digits and dots, a blank,
// and three digits (then the end of the line or a blank and the reason).
bool IsStatusLine(std::string_view line);

// The status code of a reply's first line: its second space-separated field as a decimal
// number; 0 when that field is missing, is not a number or does not fit in 16 bits.
std::int16_t ReplyStatusNumber(std::string_view line);

// Whether a reply header line ends the header: empty apart from its line end, or empty because
// the connection closed.
bool EndsReplyHeader(std::string_view line);

// What the lines of a reply header after the status line say, gathered line by line. A field
// line is a name, ":" and a value; names are compared in any letter case, blanks and tabs around
// the value are dropped. A line starting with a blank or a tab continues the field before it
// (obsolete folding, joined with one blank before the field is read); other lines without a
// colon are ignored.
struct ReplyHeaderFacts {
  bool has_length = false;
  std::int64_t length = 0;     // Content-Length
  std::string length_error;    // why the Content-Length cannot frame the body: not a plain decimal
                               // number, too large, or two that differ
  std::string field_error;     // a field line the standard forbids (a blank before the colon)
  std::string location;        // the last Location, whole
  std::string location_error;  // why that Location cannot be followed
  std::string cookie;          // the last Set-Cookie value kept (see kMaxCookie)
  // The first Content-Encoding, or Transfer-Encoding, other than identity and chunked, as "Name:
  // value" (at most kMaxQuotedValue characters of the value): the body is not the resource's bytes.
  std::string coding;
  bool chunked = false;     // Transfer-Encoding ends in chunked: the body comes in chunks
  bool close = false;       // Connection: close
  bool keep_alive = false;  // Connection: keep-alive (an HTTP/1.0 reply that keeps its connection)
  bool proxy_challenge = false;  // Proxy-Authenticate: only a proxy asks for its credentials
  std::string etag;         // the ETag, when it may be sent back (see kMaxEtag)
  std::int64_t last_modified = -1;  // Last-Modified, seconds since 1970; -1: none or unreadable
  std::string pending;      // the field line that folded lines may still continue
};
inline constexpr std::size_t kMaxQuotedValue = 64;  // characters of a value quoted in an error
inline constexpr std::size_t kMaxEtag = 1024;       // bytes of an ETag kept; longer: not kept

// Takes one header line (its line end included or not). The last field is read by
// EndReplyHeaderFacts, once the header has ended.
void TakeReplyHeaderLine(ReplyHeaderFacts& facts, std::string_view line);
void EndReplyHeaderFacts(ReplyHeaderFacts& facts);

// The HTTP version of a status line as major * 10 + minor ("HTTP/1.0" 10, "HTTP/1.1" 11,
// "HTTP/2" 20); 0 when the line is no status line.
int ReplyVersion(std::string_view line);

// The reason phrase of a status line, without control bytes and at most kMaxQuotedValue
// characters ("Proxy Authentication Required").
std::string ReplyReason(std::string_view line);

// A chunked body (RFC 9112, section 7.1) read as its bytes come.
inline constexpr std::size_t kMaxChunkLine = 4096;       // bytes of a chunk-size or trailer line
inline constexpr std::size_t kMaxTrailerBytes = 65536;  // bytes of the trailer fields
struct ChunkedBody {
  enum class Stage : std::uint8_t { kSize, kData, kDataEnd, kTrailer, kDone, kFailed };
  Stage stage = Stage::kSize;
  std::uint64_t left = 0;  // kData: bytes of the chunk still to come
  std::string line;        // the size, line end or trailer line gathered so far
  std::size_t trailer_bytes = 0;
  std::string error;  // kFailed: why ("a chunk size that is no hexadecimal number", ...)
};

// Takes bytes of a chunked body: appends the data they carry to `out` and returns how many bytes
// of `in` belong to the body. All of them, unless the body ended (kDone: the rest belongs to the
// connection) or cannot be read (kFailed).
std::size_t TakeChunked(ChunkedBody& body, std::string_view in, std::string& out);

// HTTP dates (RFC 9110, section 5.6.7): "Sun, 06 Nov 1994 08:49:37 GMT", and on reading also the
// obsolete forms "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994". Seconds since
// 1970 (not before it).
std::string FormatHttpDate(std::int64_t seconds);
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

}  // namespace http
