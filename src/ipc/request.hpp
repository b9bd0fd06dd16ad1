#pragma once
// What the host asks of the application: one record, sent as one JSON line.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ipc/cookie.hpp"

namespace nm::ipc {

// Fields in the order of their JSON keys (the key is the field name, but
// `private_` is "private"). Absent texts are written as null, flags as false.
struct AppRequest {
  std::optional<std::string> url;
  std::optional<std::string> dir;
  std::optional<std::string> name;
  bool later = false;
  bool silent = false;
  bool start_queue = false;
  std::optional<std::string> referer;
  std::optional<std::string> cookies;
  CookieList cookie_jar;  // key left out when empty
  std::optional<std::string> user_agent;
  std::optional<std::string> final_url;
  std::optional<uint64_t> size;
  std::optional<std::string> mime;
  std::optional<std::string> post;
  std::optional<std::string> post_type;
  bool private_ = false;  // "private"
  std::optional<std::string> proxy;
  std::optional<std::string> proxy_pac;
  bool proxy_login = false;
  std::optional<std::string> query;
  std::optional<bool> api;
  std::optional<std::string> action;
  std::vector<uint64_t> ids;
  std::optional<std::string> category;
  std::optional<std::string> queue;
  bool pair = false;
  bool exit = false;
  bool startup = false;
  std::optional<std::string> show;
  std::optional<std::string> video_page;
  std::optional<std::string> video_title;
  std::optional<std::string> panel_hide_site;
  std::vector<std::string> links;
  std::optional<std::string> exclude_site;

  bool operator==(const AppRequest&) const = default;
};

// The key of the token, first in every request line.
inline constexpr std::string_view kRequestTokenKey = "token";

// The request line: compact JSON with "token" first, then every field in
// order, and a final line feed.
std::string serialize_request(const AppRequest& request, std::string_view token);

}  // namespace nm::ipc
