#pragma once
// The product name of the browser that sent a message.
#include <string>
#include <string_view>
#include <vector>

namespace nm::capture {

// One of "Zen Browser", "LibreWolf", "Floorp", "Waterfox", "Brave Browser",
// "Opera", "Microsoft Edge", "Mozilla Firefox", "Google Chrome",
// "Apple Safari", or "" when neither the brands nor the user agent tell.
std::string browser_name(std::string_view user_agent, const std::vector<std::string>& brands);

}  // namespace nm::capture
