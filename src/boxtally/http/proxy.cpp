#include "boxtally/http/proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "boxtally/http/http_message.h"

namespace http {
namespace {

ParsedProxy Refused(std::string why) {
  ParsedProxy parsed;
  parsed.ok = false;
  parsed.error = std::move(why);
  return parsed;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%41" becomes "A"; a "%" without two hexadecimal digits stays as it is.
std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

// An IP address in 16 bytes (IPv4 in the first 4) with its family; false for a name.
struct Address {
  int family = 0;
  unsigned char bytes[16] = {};
};

bool ReadAddress(const std::string& text, Address& address) {
  if (inet_pton(AF_INET, text.c_str(), address.bytes) == 1) {
    address.family = AF_INET;
    return true;
  }
  if (inet_pton(AF_INET6, text.c_str(), address.bytes) == 1) {
    address.family = AF_INET6;
    return true;
  }
  return false;
}

bool SameNetwork(const Address& a, const Address& b, int bits) {
  for (int i = 0; bits > 0; ++i, bits -= 8) {
    const unsigned mask = bits >= 8 ? 0xFFu : (0xFFu << (8 - bits)) & 0xFFu;
    if ((a.bytes[i] & mask) != (b.bytes[i] & mask)) return false;
  }
  return true;
}

// One element of a no_proxy list against a host (lower case, without a final dot).
bool ElementNames(std::string element, const std::string& host) {
  if (element == "*") return true;
  if (element.size() >= 2 && element.front() == '[') {
    const std::size_t close = element.find(']');
    if (close == std::string::npos) return false;
    element = element.substr(1, close - 1) + element.substr(close + 1);
  }
  Address host_address;
  const bool host_is_address = ReadAddress(host, host_address);
  const std::size_t slash = element.find('/');
  if (slash != std::string::npos) {
    Address network;
    int bits = -1;
    const std::string_view digits = std::string_view(element).substr(slash + 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), bits);
    if (!host_is_address || ec != std::errc{} || end != digits.data() + digits.size() ||
        !ReadAddress(element.substr(0, slash), network) || network.family != host_address.family) {
      return false;
    }
    const int most = network.family == AF_INET ? 32 : 128;
    return bits >= 0 && bits <= most && SameNetwork(network, host_address, bits);
  }
  Address address;
  if (ReadAddress(element, address)) {
    return host_is_address && address.family == host_address.family &&
           SameNetwork(address, host_address, address.family == AF_INET ? 32 : 128);
  }
  while (!element.empty() && element.front() == '.') element.erase(0, 1);
  while (!element.empty() && element.back() == '.') element.pop_back();
  if (element.empty() || host_is_address) return false;
  if (host == element) return true;
  return host.size() > element.size() &&
         host.compare(host.size() - element.size(), element.size(), element) == 0 &&
         host[host.size() - element.size() - 1] == '.';
}

const char* NonEmptyVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// The first of the variables that is set, with its name.
void FromVariables(std::initializer_list<const char*> names, std::string& value,
                   std::string& from) {
  for (const char* name : names) {
    if (const char* set = NonEmptyVariable(name)) {
      value = set;
      from = name;
      return;
    }
  }
}

}  // namespace

ParsedProxy ParseProxyUrl(std::string_view text) {
  if (text.empty()) return Refused("no proxy named");
  if (text.size() > kMaxProxyUrl) return Refused("longer than 2047 characters");
  for (const char c : text) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
      return Refused("holding a blank or a control byte");
    }
  }
  const std::size_t scheme_end = text.find("://");
  if (scheme_end != std::string_view::npos) {
    if (Lowered(text.substr(0, scheme_end)) != "http") {
      return Refused("only http:// proxies are supported");
    }
    text.remove_prefix(scheme_end + 3);
  }
  std::string_view authority = text.substr(0, text.find_first_of("/?#"));
  ParsedProxy parsed;
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view user_info = authority.substr(0, at);
    const std::size_t colon = user_info.find(':');
    parsed.server.user = PercentDecoded(user_info.substr(0, colon));
    if (colon != std::string_view::npos) {
      parsed.server.password = PercentDecoded(user_info.substr(colon + 1));
    }
    authority.remove_prefix(at + 1);
  }
  const bool bracketed = !authority.empty() && authority.front() == '[';
  const std::size_t port_colon = bracketed ? authority.find("]:") : authority.find(':');
  const bool has_port = port_colon != std::string_view::npos &&
                        port_colon + (bracketed ? 2 : 1) < authority.size();
  const ParsedUrl url = ParseUrl("http://" + std::string(authority) + "/", "", 0);
  if (!url.ok) return Refused(url.error == "Invalid port in URL" ? "invalid port" : "invalid host");
  if (url.host.empty()) return Refused("no host");
  parsed.server.host = url.host;
  parsed.server.port = has_port ? url.port : kDefaultProxyPort;
  return parsed;
}

std::string ProxyName(const ProxyServer& server) {
  const bool v6 = server.host.find(':') != std::string::npos;
  return (v6 ? "[" + server.host + "]" : server.host) + ":" + std::to_string(server.port);
}

bool NoProxyNames(std::string_view no_proxy, std::string_view host) {
  std::string name = Lowered(host);
  while (!name.empty() && name.back() == '.') name.pop_back();
  while (!no_proxy.empty()) {
    const std::size_t comma = no_proxy.find(',');
    const std::string element = Lowered(Trimmed(no_proxy.substr(0, comma)));
    if (!element.empty() && ElementNames(element, name)) return true;
    if (comma == std::string_view::npos) break;
    no_proxy.remove_prefix(comma + 1);
  }
  return false;
}

ProxyRules ProxyRulesFromEnvironment() {
  ProxyRules rules;
  FromVariables({"http_proxy", "all_proxy", "ALL_PROXY"}, rules.http, rules.http_from);
  FromVariables({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}, rules.https,
                rules.https_from);
  std::string from;
  FromVariables({"no_proxy", "NO_PROXY"}, rules.no_proxy, from);
  return rules;
}

ProxyRules ProxyRulesForUrl(const std::string& proxy_url, const std::string& from) {
  ProxyRules rules;
  rules.http = proxy_url;
  rules.https = proxy_url;
  rules.http_from = from;
  rules.https_from = from;
  std::string ignored;
  FromVariables({"no_proxy", "NO_PROXY"}, rules.no_proxy, ignored);
  return rules;
}

std::string CheckProxyRules(const ProxyRules& rules) {
  const std::string* urls[][2] = {{&rules.http, &rules.http_from},
                                  {&rules.https, &rules.https_from}};
  for (const auto& [url, from] : urls) {
    if (url->empty()) continue;
    const ParsedProxy parsed = ParseProxyUrl(*url);
    if (!parsed.ok) return *from + ": " + *url + ": " + parsed.error;
  }
  return {};
}

std::optional<ParsedProxy> ChooseProxy(const ProxyRules& rules, bool secure,
                                       std::string_view host) {
  const std::string& url = secure ? rules.https : rules.http;
  if (url.empty() || NoProxyNames(rules.no_proxy, host)) return std::nullopt;
  return ParseProxyUrl(url);
}

}  // namespace http
