#include "boxtally/http/http_message.h"

#include <charconv>
#include <cstddef>
#include <string>
#include <system_error>

namespace http {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

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

ParsedUrl ParseUrl(std::string_view url, std::string_view current_host, int current_port) {
  if (url.empty()) return Refuse("Empty URL");
  ParsedUrl parsed;
  parsed.url = std::string(url);
  parsed.host = std::string(current_host);
  parsed.port = current_port == 0 ? kDefaultPort : current_port;

  const bool has_double_slash = url.find("//") != std::string_view::npos;
  std::size_t path_start = std::string_view::npos;
  if (has_double_slash) {
    path_start = NthSlash(url, 3);
  } else {
    path_start = url.find('/');
  }
  if (path_start != std::string_view::npos) {
    parsed.path = std::string(url.substr(path_start, kMaxRequestPath));
  }

  const std::size_t colon = url.find(':');
  if (colon != std::string_view::npos) {
    std::string scheme(url.substr(0, colon));
    for (char& c : scheme) c = LowerAscii(c);
    if (scheme == "gopher") {
      parsed.port = 70;
    } else if (scheme == "ftp") {
      parsed.port = 21;
    } else if (scheme == "https") {
      return Refuse("HTTP Secure Socket is not supported");
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

ReplyFieldValue ReadReplyField(std::string_view line) {
  ReplyFieldValue value;
  const std::string_view name = line.substr(0, line.find(' '));
  std::string upper(name);
  for (char& c : upper) c = UpperAscii(c);
  const std::string_view rest = WithoutLineEnd(line);
  if (upper == "SET-COOKIE:") {
    value.field = ReplyField::kSetCookie;
    if (rest.size() > 12) value.text = std::string(rest.substr(12, kMaxReplyField));
  } else if (upper == "LOCATION:") {
    value.field = ReplyField::kLocation;
    if (rest.size() > 10) value.text = std::string(rest.substr(10, kMaxReplyField));
  } else if (upper == "CONTENT-LENGTH:") {
    value.field = ReplyField::kContentLength;
    // The number is the character right after "ENGTH:" and the digits after it, so exactly one
    // space may stand before the digits.
    std::size_t pos = name.size();
    if (pos < line.size() && line[pos] == ' ') ++pos;
    std::size_t end = pos;
    while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
    std::int64_t number = 0;
    const auto [stop, ec] = std::from_chars(line.data() + pos, line.data() + end, number);
    if (end > pos && ec == std::errc{} && stop == line.data() + end) value.number = number;
  }
  return value;
}

}  // namespace http
