#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nm::ipc {

// One cookie of a download, as the extension sent it; passed to the
// application unchanged.
struct BrowserCookie {
  std::string name;
  std::string value;
  std::string domain;
  bool host_only = false;
  std::string path;
  bool secure = false;
  std::optional<double> expires;

  bool operator==(const BrowserCookie&) const = default;
};

using CookieList = std::vector<BrowserCookie>;

// The fields in order, and their keys: in the request line, and in the
// message, which may also spell two of them as the browser does ("hostOnly",
// "expirationDate").
enum CookieField : size_t {
  kCookieName,
  kCookieValue,
  kCookieDomain,
  kCookieHostOnly,
  kCookiePath,
  kCookieSecure,
  kCookieExpires,
};
inline constexpr std::array<std::string_view, 7> kCookieFields = {
    "name", "value", "domain", "host_only", "path", "secure", "expires"};

}  // namespace nm::ipc
