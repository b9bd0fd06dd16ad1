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
  ipc::CookieList cookie_jar;
  std::optional<std::string> user_agent;
  std::vector<std::string> brands;
  std::optional<std::string> filename;
  std::optional<std::string> final_url;
  std::optional<uint64_t> size;
  std::optional<std::string> mime;
  std::optional<std::string> post;
  std::optional<std::string> post_type;
  bool private_ = false;  // "private"
  std::optional<std::string> proxy;
  std::optional<std::string> proxy_pac;
  bool proxy_login = false;
  bool explicit_ = false;  // "explicit"
  bool panel = false;
  bool video = false;
  std::optional<std::string> src;
  std::optional<std::string> title;
  std::optional<std::string> hide_site;
  bool open_options = false;
  std::optional<std::string> page;
  std::vector<std::string> links;
  std::optional<std::string> exclude_site;
  bool open = false;
  std::optional<Notice> declined;
};

// Reads a frame body; the error is the reader's text with its position.
Result<Message> parse_message(std::string_view body);

}  // namespace nm::host
