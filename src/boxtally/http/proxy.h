// Proxies for the HTTP client, chosen as curl chooses them: a proxy named by the user, or the
// environment's https_proxy/HTTPS_PROXY (https URLs), http_proxy (http URLs; lower case only, since
// a CGI program's HTTP_PROXY comes from a request's "Proxy:" line) and all_proxy/ALL_PROXY, and
// the hosts of no_proxy/NO_PROXY reached directly. Only plain HTTP proxies: an https URL goes
// through a CONNECT tunnel, an http URL as an absolute-form request.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace http {

inline constexpr int kDefaultProxyPort = 1080;  // of a proxy URL without a port, as curl has it
inline constexpr std::size_t kMaxProxyUrl = 2047;  // characters

// One proxy server.
struct ProxyServer {
  std::string host;  // a name or an address (IPv6 without brackets)
  int port = kDefaultProxyPort;
  // From "user:password@", percent-decoded: sent as "Proxy-Authorization: Basic ..." when the
  // user is not empty.
  std::string user;
  std::string password;
};

struct ParsedProxy {
  bool ok = true;
  std::string error;  // when !ok: "only http:// proxies are supported", "no host", ...
  ProxyServer server;
};

// "[http://][user[:password]@]host[:port][/]", the host a name, an IPv4 address or an IPv6 address
// in brackets.
ParsedProxy ParseProxyUrl(std::string_view text);

// "HOST:PORT" of a proxy, for log lines (an IPv6 address in brackets).
std::string ProxyName(const ProxyServer& server);

// Whether a no_proxy list names `host`: elements separated by commas (blanks around them
// ignored); "*" names every host; a name names itself and every host under it ("example.com" and
// ".example.com" both name example.com and www.example.com), letter case ignored; an IP address
// names itself, and "ADDRESS/BITS" every address of its network. `host` is a name or an address
// (IPv6 without brackets).
bool NoProxyNames(std::string_view no_proxy, std::string_view host);

// Where the proxies of a run come from, and what they are: the proxy URL for http URLs and for
// https URLs (empty: none), where each was found (for messages: "--proxy", "https_proxy", ...),
// and the no_proxy list.
struct ProxyRules {
  std::string http;
  std::string http_from;
  std::string https;
  std::string https_from;
  std::string no_proxy;
};

// The rules of the environment, read as curl reads it (an empty variable counts as unset).
ProxyRules ProxyRulesFromEnvironment();
// One proxy for every URL (the environment's no_proxy still applies); empty: none at all.
ProxyRules ProxyRulesForUrl(const std::string& proxy_url, const std::string& from);

// The first proxy URL of the rules that cannot be used, as "FROM: URL: WHY"; empty when all can.
std::string CheckProxyRules(const ProxyRules& rules);

// The proxy a request to `host` goes through: nullopt for straight to the host, else the proxy
// URL parsed (not ok when it cannot be used: the request must fail, never go around it).
std::optional<ParsedProxy> ChooseProxy(const ProxyRules& rules, bool secure, std::string_view host);

}  // namespace http
