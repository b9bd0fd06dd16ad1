#pragma once
// The one record of every message from the extension.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"
#include "ipc/cookie.hpp"

namespace nm::host {

struct Notice {
  std::string why;
  std::string site;
  std::string name;

  bool operator==(const Notice&) const = default;
};

struct Message {
  bool rules = false;
  bool hello = false;
  std::optional<std::string> v;
  std::string url;
  std::optional<std::string> referrer;
  std::optional<std::string> cookies;
  ipc::CookieList cookieJar;
  std::optional<std::string> userAgent;
  std::vector<std::string> brands;
  std::optional<std::string> filename;
  std::optional<std::string> finalUrl;
  std::optional<uint64_t> size;
  std::optional<std::string> mime;
  std::optional<std::string> post;
  std::optional<std::string> postType;
  bool private_ = false;  // "private"
  std::optional<std::string> proxy;
  std::optional<std::string> proxyPac;
  bool proxyLogin = false;
  bool explicit_ = false;  // "explicit"
  bool panel = false;
  bool video = false;
  std::optional<std::string> src;
  std::optional<std::string> title;
  std::optional<std::string> hideSite;
  bool openOptions = false;
  std::optional<std::string> page;
  std::vector<std::string> links;
  std::optional<std::string> excludeSite;
  bool open = false;
  std::optional<Notice> declined;
};

// Reads a frame body; the error is the reader's text with its position.
Result<Message> parse_message(std::string_view body);

}  // namespace nm::host
