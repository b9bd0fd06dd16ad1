#pragma once
// Checks of the browser's proxy setup before it is passed to the application.
#include <optional>
#include <string>
#include <string_view>

namespace nm::host {

inline constexpr size_t kMaxPacBytes = 262144;

// "scheme://host:port" with an accepted scheme, a plain or bracketed host and
// a port from 1 to 65535, written back with the port in decimal; absent when
// any check fails.
std::optional<std::string> normalize_proxy(std::string_view text);
// The script unchanged when it is small enough and defines FindProxyForURL.
std::optional<std::string> accept_pac(std::string_view text);

}  // namespace nm::host
