#include "host/proxy.hpp"

#include <array>

#include "base/text.hpp"

namespace nm::host {

static bool is_ascii_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

static bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

static std::optional<unsigned> parse_port(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (text.size() == 1 && (text[0] == '+' || text[0] == '-')) return std::nullopt;
  if (text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  unsigned long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 65535) return std::nullopt;  // also stops long runs of digits
  }
  if (value == 0) return std::nullopt;
  return static_cast<unsigned>(value);
}

static bool valid_host(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    const std::string_view inner = host.substr(1, host.size() - 2);
    if (inner.empty()) return false;
    for (const char c : inner)
      if (!is_hex(c) && c != '.' && c != ':') return false;
    return true;
  }
  if (host.empty() || host.size() > 253) return false;
  for (const char c : host)
    if (!is_ascii_alnum(c) && c != '.' && c != '-') return false;
  return true;
}

std::optional<std::string> normalize_proxy(std::string_view text) {
  static constexpr std::array<std::string_view, 5> kSchemes = {"http", "https", "socks4", "socks5",
                                                               "socks5h"};
  text = base::trim_unicode(text);
  const size_t sep = text.find("://");
  if (sep == std::string_view::npos) return std::nullopt;
  const std::string_view scheme = text.substr(0, sep);
  bool accepted = false;
  for (const auto s : kSchemes) accepted = accepted || s == scheme;
  if (!accepted) return std::nullopt;
  const std::string_view rest = text.substr(sep + 3);
  const size_t colon = rest.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto port = parse_port(rest.substr(colon + 1));
  if (!port) return std::nullopt;
  const std::string_view host = rest.substr(0, colon);
  if (!valid_host(host)) return std::nullopt;
  return std::string(scheme) + "://" + std::string(host) + ":" + std::to_string(*port);
}

std::optional<std::string> accept_pac(std::string_view text) {
  if (text.size() > kMaxPacBytes) return std::nullopt;
  if (text.find("FindProxyForURL") == std::string_view::npos) return std::nullopt;
  return std::string(text);
}

}  // namespace nm::host
