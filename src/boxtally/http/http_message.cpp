#include "boxtally/http/http_message.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstddef>
#include <string>
#include <system_error>

namespace http {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }


// Position of the n-th '/' (1-based), or npos.
std::size_t NthSlash(std::string_view text, int n) {
  std::size_t pos = std::string_view::npos;
  for (int i = 0; i < n; ++i) {
    pos = text.find('/', pos == std::string_view::npos ? 0 : pos + 1);
    if (pos == std::string_view::npos) return pos;
  }
  return pos;
}

std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

ParsedUrl Refuse(const char* text) {
  ParsedUrl parsed;
  parsed.ok = false;
  parsed.error = text;
  return parsed;
}

// The IPv4 address of a host written in one of the forms the resolver reads as an address
// ("127.1", "0x7f000001", "017700000001"), in dotted form; nullopt for a host name.
std::optional<std::string> DottedIpv4(std::string_view host) {
  if (host.empty() || host.find_first_not_of("0123456789abcdefABCDEFxX.") != std::string_view::npos)
    return std::nullopt;
  in_addr address{};
  if (inet_aton(std::string(host).c_str(), &address) == 0) return std::nullopt;
  char text[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return std::nullopt;
  return std::string(text);
}

// The host part without its "user:password@", split into the host and the port text (empty when
// there is none). False for a bracketed host that is no IPv6 address, or text after its "]" that
// is no port.
bool SplitHostPart(std::string_view host_part, std::string_view& host, std::string_view& port,
                   bool& has_port) {
  const std::size_t at = host_part.rfind('@');
  if (at != std::string_view::npos) host_part.remove_prefix(at + 1);
  has_port = false;
  if (!host_part.empty() && host_part.front() == '[') {
    const std::size_t close = host_part.find(']');
    if (close == std::string_view::npos) return false;
    host = host_part.substr(1, close - 1);
    in6_addr v6{};
    if (inet_pton(AF_INET6, std::string(host).c_str(), &v6) != 1) return false;
    const std::string_view rest = host_part.substr(close + 1);
    if (rest.empty()) return true;
    if (rest.front() != ':') return false;
    has_port = true;
    port = rest.substr(1);
    return true;
  }
  const std::size_t colon = host_part.find(':');
  host = host_part.substr(0, colon);
  if (colon != std::string_view::npos) {
    has_port = true;
    port = host_part.substr(colon + 1);
  }
  return true;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

ParsedUrl ParseUrl(std::string_view url, std::string_view current_host, int current_port,
                   bool current_secure) {
  if (url.empty()) return Refuse("Empty URL");
  if (url.size() > kMaxUrl) return Refuse("URL longer than 2047 characters");
  for (const char c : url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
      return Refuse("URL holding a blank or a control byte");
    }
  }
  // Read as "/" by browsers and as a name byte by others: a URL that means two things is refused.
  if (url.find('\\') != std::string_view::npos) return Refuse("URL holding a backslash");
  ParsedUrl parsed;
  parsed.url = std::string(url);
  parsed.host = std::string(current_host);
  parsed.secure = current_secure;
  parsed.port =
      current_port == 0 ? (current_secure ? kDefaultSecurePort : kDefaultPort) : current_port;

  const bool has_double_slash = url.find("//") != std::string_view::npos;
  std::size_t path_start = std::string_view::npos;
  if (has_double_slash) {
    path_start = NthSlash(url, 3);
  } else {
    path_start = url.find('/');
  }
  if (path_start != std::string_view::npos) parsed.path = std::string(url.substr(path_start));

  const std::size_t colon = url.find(':');
  if (colon != std::string_view::npos) {
    std::string scheme(url.substr(0, colon));
    for (char& c : scheme) c = LowerAscii(c);
    parsed.secure = scheme == "https";
    if (scheme == "gopher") {
      parsed.port = 70;
    } else if (scheme == "ftp") {
      parsed.port = 21;
    } else if (scheme == "https") {
      parsed.port = kDefaultSecurePort;
    } else {
      parsed.port = kDefaultPort;
    }
  }

  std::string_view host_part;
  bool has_host_part = true;
  if (has_double_slash) {
    const std::size_t second = NthSlash(url, 2);
    const std::size_t third = NthSlash(url, 3);
    host_part = url.substr(
        second + 1, third == std::string_view::npos ? std::string_view::npos : third - second - 1);
  } else if (url.front() == '/') {
    has_host_part = false;
  } else {
    host_part = url.substr(0, url.find('/'));
  }
  if (has_host_part) {
    std::string_view host_name;
    std::string_view digits;
    bool has_port = false;
    if (!SplitHostPart(host_part, host_name, digits, has_port)) return Refuse("Invalid host in URL");
    if (has_port) {
      if (!digits.empty()) {
        int port = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
        if (ec != std::errc{} || end != digits.data() + digits.size() || port < 1 || port > 65535 ||
            digits.front() == '+' || digits.front() == '-') {
          return Refuse("Invalid port in URL");
        }
        parsed.port = port;
      }
    }
    if (!host_name.empty()) parsed.host = DottedIpv4(host_name).value_or(std::string(host_name));
  }

  if (parsed.path.empty()) {
    parsed.path = "/";
    parsed.url += '/';
  }
  return parsed;
}

bool IsIpAddress(std::string_view host) {
  const std::string text(host);
  in_addr v4{};
  in6_addr v6{};
  return inet_pton(AF_INET, text.c_str(), &v4) == 1 || inet_pton(AF_INET6, text.c_str(), &v6) == 1;
}

std::string HostField(std::string_view host, int port, bool secure) {
  std::string field = host.find(':') != std::string_view::npos ? "[" + std::string(host) + "]"
                                                                 : std::string(host);
  if (port != (secure ? kDefaultSecurePort : kDefaultPort)) field += ":" + std::to_string(port);
  return field;
}

namespace {

// The five parts of a URI reference (RFC 3986, appendix B), with a scheme only when it has the
// scheme's syntax.
struct UriParts {
  bool has_scheme = false;
  bool has_authority = false;
  bool has_query = false;
  std::string_view scheme, authority, path, query;
};

bool IsSchemeText(std::string_view text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (const char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  return true;
}

UriParts SplitUri(std::string_view text) {
  UriParts parts;
  text = text.substr(0, text.find('#'));  // the fragment is never sent
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos && colon < text.find_first_of("/?") &&
      IsSchemeText(text.substr(0, colon))) {
    parts.has_scheme = true;
    parts.scheme = text.substr(0, colon);
    text.remove_prefix(colon + 1);
  }
  if (text.substr(0, 2) == "//") {
    parts.has_authority = true;
    text.remove_prefix(2);
    const std::size_t end = text.find_first_of("/?");
    parts.authority = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end);
  }
  const std::size_t question = text.find('?');
  parts.path = text.substr(0, question);
  if (question != std::string_view::npos) {
    parts.has_query = true;
    parts.query = text.substr(question + 1);
  }
  return parts;
}

// RFC 3986, section 5.2.4.
std::string RemoveDotSegments(std::string_view in) {
  std::string out;
  while (!in.empty()) {
    if (in.substr(0, 3) == "../") {
      in.remove_prefix(3);
    } else if (in.substr(0, 2) == "./") {
      in.remove_prefix(2);
    } else if (in.substr(0, 3) == "/./") {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.substr(0, 4) == "/../" || in == "/..") {
      in = in.size() == 3 ? std::string_view("/") : in.substr(3);
      const std::size_t last = out.rfind('/');
      out.erase(last == std::string::npos ? 0 : last);
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      const std::size_t next = in.find('/', 1);
      const std::size_t take = next == std::string_view::npos ? in.size() : next;
      out.append(in.substr(0, take));
      in.remove_prefix(take);
    }
  }
  return out;
}

}  // namespace

std::string ResolveReference(std::string_view base, std::string_view reference) {
  const UriParts b = SplitUri(base);
  const UriParts r = SplitUri(reference);
  std::string scheme(b.scheme);
  std::string authority(b.authority);
  bool has_authority = b.has_authority;
  std::string path;
  std::string_view query = r.query;
  bool has_query = r.has_query;
  if (r.has_scheme) {
    scheme = std::string(r.scheme);
    has_authority = r.has_authority;
    authority = std::string(r.authority);
    path = RemoveDotSegments(r.path);
  } else if (r.has_authority) {
    authority = std::string(r.authority);
    has_authority = true;
    path = RemoveDotSegments(r.path);
  } else if (r.path.empty()) {
    path = std::string(b.path);
    if (!r.has_query) {
      query = b.query;
      has_query = b.has_query;
    }
  } else if (r.path.front() == '/') {
    path = RemoveDotSegments(r.path);
  } else {
    // Merged with the base's path up to its last "/" (RFC 3986, section 5.2.3).
    std::string merged;
    if (b.has_authority && b.path.empty()) {
      merged = "/";
    } else {
      const std::size_t last = b.path.rfind('/');
      if (last != std::string_view::npos) merged = std::string(b.path.substr(0, last + 1));
    }
    merged.append(r.path);
    path = RemoveDotSegments(merged);
  }
  std::string target = scheme + ":";
  if (has_authority) target += "//" + authority;
  target += path;
  if (has_query) {
    target += '?';
    target.append(query);
  }
  return target;
}

std::string UrlScheme(std::string_view url) {
  const UriParts parts = SplitUri(url);
  std::string scheme(parts.has_scheme ? parts.scheme : std::string_view());
  for (char& c : scheme) c = LowerAscii(c);
  return scheme;
}

bool HoldsControlByte(std::string_view text) {
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return true;
  }
  return false;
}

std::vector<std::string> ComposeRequestHeader(std::string_view method_word, std::string_view target,
                                              std::string_view host, bool through_proxy,
                                              const THeaderInfo& info) {
  std::vector<std::string> lines;
  lines.push_back(std::string(method_word) + std::string(target) + " HTTP/1.1");
  if (through_proxy) {
    lines.push_back("Proxy-Connection: Keep-Alive");
    lines.push_back("Host: " + std::string(host));
  }
  SetHeaderValue(lines, "Host", host);
  lines.push_back("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
  lines.push_back("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
  if (!info.LocalProgram.empty()) SetHeaderValue(lines, "User-Agent", info.LocalProgram);
  if (!info.LocalMailAddress.empty()) SetHeaderValue(lines, "From", info.LocalMailAddress);
  if (!info.Cookie.empty()) SetHeaderValue(lines, "Cookie", info.Cookie);
  if (!info.Referer.empty()) SetHeaderValue(lines, "Referer", info.Referer);
  if (!info.UserId.empty() && !info.Password.empty()) {
    SetHeaderValue(lines, "Authorization",
                   "Basic " + Base64Encode(info.UserId + ":" + info.Password));
  }
  if (!info.IfModifiedSince.empty()) {
    SetHeaderValue(lines, "If-Modified-Since", info.IfModifiedSince);
  }
  if (!info.IfNoneMatch.empty()) SetHeaderValue(lines, "If-None-Match", info.IfNoneMatch);
  lines.push_back("Content-type: application/x-www-form-urlencoded");
  return lines;
}

std::string JoinRequestHeader(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) {
    bytes += line;
    bytes += "\r\n";
  }
  bytes += "\r\n";
  return bytes;
}

void SetHeaderValue(std::vector<std::string>& lines, std::string_view name,
                    std::string_view value) {
  for (auto it = lines.begin(); it != lines.end(); ++it) {
    const std::string_view line_name = std::string_view(*it).substr(0, it->find(':'));
    if (!EqualsIgnoringCase(line_name, name)) continue;
    if (value.empty()) {
      lines.erase(it);
    } else {
      *it = std::string(name) + ": " + std::string(value);
    }
    return;
  }
  if (!value.empty()) lines.push_back(std::string(name) + ": " + std::string(value));
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

bool IsStatusLine(std::string_view line) {
  line = WithoutLineEnd(line);
  if (line.substr(0, 5) != "HTTP/") return false;
  std::size_t pos = 5;
  const auto digit = [&](std::size_t at) {
    return at < line.size() && line[at] >= '0' && line[at] <= '9';
  };
  if (!digit(pos)) return false;
  while (digit(pos) || (pos < line.size() && line[pos] == '.')) ++pos;
  if (pos >= line.size() || line[pos] != ' ') return false;
  ++pos;
  if (!digit(pos) || !digit(pos + 1) || !digit(pos + 2)) return false;
  return pos + 3 == line.size() || line[pos + 3] == ' ';
}

std::int16_t ReplyStatusNumber(std::string_view line) {
  line = WithoutLineEnd(line);
  const std::size_t first_space = line.find(' ');
  if (first_space == std::string_view::npos) return 0;
  std::string_view field = line.substr(first_space + 1);
  field = field.substr(0, field.find(' '));
  if (field.empty() || field.front() == '-' || field.front() == '+') return 0;
  std::int16_t number = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), number);
  if (ec != std::errc{} || end != field.data() + field.size()) return 0;
  return number;
}

bool EndsReplyHeader(std::string_view line) { return WithoutLineEnd(line).empty(); }

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A foreign value as an error may show it: bounded, without control bytes.
std::string Shown(std::string_view value) {
  std::string shown;
  for (const char c : value.substr(0, kMaxQuotedValue)) {
    shown += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '_' : c;
  }
  if (value.size() > kMaxQuotedValue) shown += "...";
  return shown;
}

}  // namespace

namespace {

// Calls `take` with every comma-separated element of a field value, blanks trimmed.
template <typename Take>
void ForEachElement(std::string_view value, Take take) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    std::string_view element = value.substr(0, comma);
    while (!element.empty() && IsBlank(element.front())) element.remove_prefix(1);
    while (!element.empty() && IsBlank(element.back())) element.remove_suffix(1);
    if (!element.empty()) take(element);
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
}

void TakeContentLength(ReplyHeaderFacts& facts, std::string_view value) {
  std::int64_t number = -1;
  const bool digits =
      !value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (digits && ec == std::errc::result_out_of_range) {
    if (facts.length_error.empty()) {
      facts.length_error = "Content-Length \"" + Shown(value) + "\" is too large";
    }
  } else if (!digits || ec != std::errc{} || end != value.data() + value.size()) {
    if (facts.length_error.empty()) {
      facts.length_error = "Content-Length \"" + Shown(value) + "\" is not a plain decimal number";
    }
  } else if (facts.has_length && number != facts.length) {
    if (facts.length_error.empty()) facts.length_error = "two Content-Length values differ";
  } else {
    facts.has_length = true;
    facts.length = number;
  }
}

// Transfer codings apply in order: the body is chunked only when chunked comes last, and any
// other coding but identity makes it something else than the resource's bytes.
void TakeTransferEncoding(ReplyHeaderFacts& facts, std::string_view name, std::string_view value) {
  ForEachElement(value, [&](std::string_view coding) {
    if (EqualsIgnoringCase(coding, "chunked")) {
      facts.chunked = true;
      return;
    }
    if (EqualsIgnoringCase(coding, "identity")) return;
    facts.chunked = false;
    if (facts.coding.empty()) facts.coding = std::string(name) + ": " + Shown(value);
  });
}

void TakeField(ReplyHeaderFacts& facts, std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return;
  const std::string_view name = line.substr(0, colon);
  if (IsBlank(name.back())) {
    // Read by some as the field and by others as another one (RFC 9112, section 5.1).
    if (facts.field_error.empty()) {
      facts.field_error = "a blank between the field name \"" + Shown(name) + "\" and its colon";
    }
    return;
  }
  for (const char c : name) {
    if (IsBlank(c)) return;  // not a field line
  }
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);

  if (EqualsIgnoringCase(name, "Content-Length")) {
    TakeContentLength(facts, value);
  } else if (EqualsIgnoringCase(name, "Location")) {
    facts.location = std::string(value);
    facts.location_error.clear();
    if (value.size() > kMaxUrl) {
      facts.location_error = "Location longer than 2047 characters";
    } else if (HoldsControlByte(value) || value.find('\t') != std::string_view::npos) {
      facts.location_error = "Location holding a control byte";
    }
  } else if (EqualsIgnoringCase(name, "Set-Cookie")) {
    // A cookie cut short, or one that would carry a line break into a request, is not kept.
    if (value.size() <= kMaxCookie && !HoldsControlByte(value)) facts.cookie = std::string(value);
  } else if (EqualsIgnoringCase(name, "Content-Encoding")) {
    if (!value.empty() && !EqualsIgnoringCase(value, "identity") && facts.coding.empty()) {
      facts.coding = std::string(name) + ": " + Shown(value);
    }
  } else if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
    TakeTransferEncoding(facts, name, value);
  } else if (EqualsIgnoringCase(name, "Connection")) {
    ForEachElement(value, [&](std::string_view option) {
      if (EqualsIgnoringCase(option, "close")) facts.close = true;
      if (EqualsIgnoringCase(option, "keep-alive")) facts.keep_alive = true;
    });
  } else if (EqualsIgnoringCase(name, "ETag")) {
    // It goes back to the server in If-None-Match: nothing that could break that line.
    const bool sendable = value.size() <= kMaxEtag && !HoldsControlByte(value) &&
                          value.find('\t') == std::string_view::npos;
    facts.etag = sendable ? std::string(value) : std::string();
  } else if (EqualsIgnoringCase(name, "Last-Modified")) {
    facts.last_modified = ParseHttpDate(value).value_or(-1);
  } else if (EqualsIgnoringCase(name, "Proxy-Authenticate")) {
    facts.proxy_challenge = true;
  }
}

}  // namespace

void TakeReplyHeaderLine(ReplyHeaderFacts& facts, std::string_view line) {
  line = WithoutLineEnd(line);
  if (!line.empty() && IsBlank(line.front())) {
    // Folded onto the field before it (RFC 9112, section 5.2); with none, it is dropped.
    if (facts.pending.empty()) return;
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    facts.pending += ' ';
    facts.pending.append(line);
    return;
  }
  EndReplyHeaderFacts(facts);
  facts.pending.assign(line);
}

void EndReplyHeaderFacts(ReplyHeaderFacts& facts) {
  if (facts.pending.empty()) return;
  const std::string field = std::move(facts.pending);
  facts.pending.clear();
  TakeField(facts, field);
}

int ReplyVersion(std::string_view line) {
  if (!IsStatusLine(line)) return 0;
  const std::string_view version = line.substr(5, line.find(' ') - 5);
  int major = 0;
  int minor = 0;
  const std::size_t dot = version.find('.');
  const std::string_view major_text = version.substr(0, dot);
  std::from_chars(major_text.data(), major_text.data() + major_text.size(), major);
  if (dot != std::string_view::npos) {
    const std::string_view minor_text = version.substr(dot + 1);
    std::from_chars(minor_text.data(), minor_text.data() + minor_text.size(), minor);
  }
  if (major > 9 || minor > 9) return 99;
  return major * 10 + minor;
}

std::string ReplyReason(std::string_view line) {
  line = WithoutLineEnd(line);
  const std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos) return {};
  return Shown(line.substr(second + 1));
}

namespace {

bool FailChunked(ChunkedBody& body, const char* why) {
  body.stage = ChunkedBody::Stage::kFailed;
  body.error = why;
  return false;
}

// A chunk-size line: hexadecimal digits, then optionally blanks and ";" with extensions, which
// are ignored.
bool TakeChunkSize(ChunkedBody& body, std::string_view line) {
  std::size_t digits = 0;
  std::uint64_t size = 0;
  while (digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[digits]))) {
    if (digits == 15) return FailChunked(body, "a chunk size too large");
    const char c = LowerAscii(line[digits]);
    size = size * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    ++digits;
  }
  std::string_view rest = line.substr(digits);
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  if (digits == 0 || (!rest.empty() && rest.front() != ';')) {
    return FailChunked(body, "a chunk size that is no hexadecimal number");
  }
  body.left = size;
  body.stage = size == 0 ? ChunkedBody::Stage::kTrailer : ChunkedBody::Stage::kData;
  return true;
}

bool TakeChunkLine(ChunkedBody& body) {
  std::string_view line = body.line;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  bool ok = true;
  switch (body.stage) {
    case ChunkedBody::Stage::kSize:
      ok = TakeChunkSize(body, line);
      break;
    case ChunkedBody::Stage::kDataEnd:
      if (!line.empty()) ok = FailChunked(body, "a chunk longer than its size");
      body.stage = ok ? ChunkedBody::Stage::kSize : body.stage;
      break;
    case ChunkedBody::Stage::kTrailer:
      body.trailer_bytes += body.line.size() + 1;
      if (body.trailer_bytes > kMaxTrailerBytes) {
        ok = FailChunked(body, "trailer fields longer than 65536 bytes");
      } else if (line.empty()) {
        body.stage = ChunkedBody::Stage::kDone;
      }
      break;
    default:
      break;
  }
  body.line.clear();
  return ok;
}

}  // namespace

std::size_t TakeChunked(ChunkedBody& body, std::string_view in, std::string& out) {
  using Stage = ChunkedBody::Stage;
  std::size_t at = 0;
  while (at < in.size() && body.stage != Stage::kDone && body.stage != Stage::kFailed) {
    if (body.stage == Stage::kData) {
      const std::size_t take =
          static_cast<std::size_t>(std::min<std::uint64_t>(body.left, in.size() - at));
      out.append(in.substr(at, take));
      at += take;
      body.left -= take;
      if (body.left == 0) body.stage = Stage::kDataEnd;
      continue;
    }
    const std::size_t feed = in.find('\n', at);
    const std::size_t end = feed == std::string_view::npos ? in.size() : feed;
    if (body.line.size() + (end - at) > kMaxChunkLine) {
      FailChunked(body, "a chunk line longer than 4096 bytes");
      break;
    }
    body.line.append(in.substr(at, end - at));
    at = end;
    if (feed == std::string_view::npos) break;
    ++at;
    if (!TakeChunkLine(body)) break;
  }
  return at;
}

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back (H. Hinnant's
// algorithms): no time zone, no locale.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

// Reads exactly `count` digits (a leading blank counts as a 0 where `blank_pad`).
bool ReadNumber(std::string_view& text, std::size_t count, int& value, bool blank_pad = false) {
  if (text.size() < count) return false;
  value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[i];
    if (blank_pad && i == 0 && c == ' ') continue;
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  text.remove_prefix(count);
  return true;
}

bool ReadLiteral(std::string_view& text, std::string_view literal) {
  if (text.substr(0, literal.size()) != literal) return false;
  text.remove_prefix(literal.size());
  return true;
}

bool ReadMonth(std::string_view& text, int& month) {
  for (int i = 0; i < 12; ++i) {
    if (ReadLiteral(text, kMonthNames[i])) {
      month = i + 1;
      return true;
    }
  }
  return false;
}

bool ReadTime(std::string_view& text, int& hour, int& minute, int& second) {
  return ReadNumber(text, 2, hour) && ReadLiteral(text, ":") && ReadNumber(text, 2, minute) &&
         ReadLiteral(text, ":") && ReadNumber(text, 2, second);
}

}  // namespace

std::string FormatHttpDate(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t days = seconds / 86400;
  const std::int64_t rest = seconds % 86400;
  std::int64_t year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(days, year, month, day);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT",
                kDayNames[(days + 4) % 7], day, kMonthNames[month - 1],
                static_cast<long long>(year), static_cast<int>(rest / 3600),
                static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  const std::size_t comma = text.find(',');
  bool ok = false;
  if (comma != std::string_view::npos) {
    std::string_view rest = text.substr(comma + 1);
    if (ReadLiteral(rest, " ") && ReadNumber(rest, 2, day)) {
      if (ReadLiteral(rest, " ")) {  // IMF-fixdate
        ok = ReadMonth(rest, month) && ReadLiteral(rest, " ") && ReadNumber(rest, 4, year) &&
             ReadLiteral(rest, " ") && ReadTime(rest, hour, minute, second) && rest == " GMT";
      } else if (ReadLiteral(rest, "-")) {  // RFC 850: a two-digit year, taken within 1970-2069
        ok = ReadMonth(rest, month) && ReadLiteral(rest, "-") && ReadNumber(rest, 2, year) &&
             ReadLiteral(rest, " ") && ReadTime(rest, hour, minute, second) && rest == " GMT";
        year += year < 70 ? 2000 : 1900;
      }
    }
  } else if (text.size() > 4) {  // asctime: "Sun Nov  6 08:49:37 1994"
    std::string_view rest = text.substr(4);
    ok = ReadMonth(rest, month) && ReadLiteral(rest, " ") && ReadNumber(rest, 2, day, true) &&
         ReadLiteral(rest, " ") && ReadTime(rest, hour, minute, second) &&
         ReadLiteral(rest, " ") && ReadNumber(rest, 4, year) && rest.empty();
  }
  if (!ok || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || year < 1970) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace http
