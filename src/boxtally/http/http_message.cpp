#include "boxtally/http/http_message.h"

#include <cctype>
#include <charconv>
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
    std::string_view host_name = host_part;
    const std::size_t port_colon = host_part.find(':');
    if (port_colon != std::string_view::npos) {
      host_name = host_part.substr(0, port_colon);
      const std::string_view digits = host_part.substr(port_colon + 1);
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
    if (!host_name.empty()) parsed.host = std::string(host_name);
  }

  if (parsed.path.empty()) {
    parsed.path = "/";
    parsed.url += '/';
  }
  return parsed;
}

std::string HostField(std::string_view host, int port, bool secure) {
  std::string field(host);
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
  lines.push_back(std::string(method_word) + std::string(target) + " HTTP/1.0");
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

void TakeReplyHeaderLine(ReplyHeaderFacts& facts, std::string_view line) {
  line = WithoutLineEnd(line);
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return;
  const std::string_view name = line.substr(0, colon);
  for (const char c : name) {
    if (IsBlank(c)) return;  // not a field line
  }
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);

  if (EqualsIgnoringCase(name, "Content-Length")) {
    std::int64_t number = -1;
    const bool digits =
        !value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (!digits || ec != std::errc{} || end != value.data() + value.size()) {
      if (facts.length_error.empty()) {
        facts.length_error =
            "Content-Length \"" + Shown(value) + "\" is not a plain decimal number";
      }
    } else if (facts.has_length && number != facts.length) {
      if (facts.length_error.empty()) facts.length_error = "two Content-Length values differ";
    } else {
      facts.has_length = true;
      facts.length = number;
    }
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
  } else if (EqualsIgnoringCase(name, "Content-Encoding") ||
             EqualsIgnoringCase(name, "Transfer-Encoding")) {
    if (!value.empty() && !EqualsIgnoringCase(value, "identity") && facts.coding.empty()) {
      facts.coding = std::string(name) + ": " + Shown(value);
    }
  }
}

}  // namespace http
