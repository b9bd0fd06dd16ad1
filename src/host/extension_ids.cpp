#include "host/extension_ids.hpp"

namespace nm::host {

bool is_extension_id(std::string_view id) {
  if (id.size() != 32) return false;
  for (const char c : id)
    if (c < 'a' || c > 'p') return false;
  return true;
}

std::vector<std::string> extension_ids() {
  std::vector<std::string> ids{std::string(kChromeStoreId)};
  for (const auto id : {kEdgeAddonsId, kOperaAddonsId})
    if (is_extension_id(id)) ids.emplace_back(id);
  return ids;
}

std::string chrome_origin(std::string_view id) {
  return "chrome-extension://" + std::string(id) + "/";
}

std::vector<std::string> allowed_origins() {
  std::vector<std::string> origins;
  for (const auto& id : extension_ids()) origins.push_back(chrome_origin(id));
  return origins;
}

}  // namespace nm::host
