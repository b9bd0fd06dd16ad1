#pragma once
#include <optional>
#include <string>
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

}  // namespace nm::ipc
