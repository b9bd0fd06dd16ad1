#pragma once
// Which extensions may call the host.
#include <string>
#include <string_view>
#include <vector>

namespace nm::host {

inline constexpr std::string_view kChromeStoreId = "pjgmbkdaieonhfclgkbimepajnodlhfc";
inline constexpr std::string_view kEdgeAddonsId = "EDGE_ADDONS_ID_PENDING";
inline constexpr std::string_view kOperaAddonsId = "OPERA_ADDONS_ID_PENDING";
// The companion add-on's id in Firefox-family browsers.
inline constexpr std::string_view kFirefoxAddonId = "browser@qartorvanel.example";
// The application's own extension in the Chrome Web Store: unregistration
// removes its key under Software\Google\Chrome\Extensions. The store id is
// not known yet; until it is, this placeholder, spelled as the other pending
// ids are, names the key (when there is no such key, its removal fails
// quietly, as every removal of unregistration may).
inline constexpr std::string_view kQarStoreIdPending = "QAR_STORE_ID_PENDING";

// 32 characters, each from "a" to "p".
bool is_extension_id(std::string_view id);
// The Chrome id, then the Edge and Opera ids when they are real ids.
std::vector<std::string> extension_ids();
// The origin under which Chromium browsers start the host for the extension:
// "chrome-extension://" + id + "/".
std::string chrome_origin(std::string_view id);
// The origin of each id.
std::vector<std::string> allowed_origins();

}  // namespace nm::host
