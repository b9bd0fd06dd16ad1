#pragma once
// Registering the host with the browsers through the registry tool, and
// removing it again.
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"
#include "host/manifest.hpp"
#include "os/fs.hpp"
#include "os/registry.hpp"

namespace nm::host {

namespace fs = std::filesystem;

// A browser family, the key under which it looks for native messaging hosts,
// and the manifest that key names.
struct BrowserKey {
  std::string_view family;
  std::string_view key;
  ManifestKind manifest;
};
inline constexpr std::array<BrowserKey, 5> kBrowserKeys = {{
    {"Chrome", "Software\\Google\\Chrome\\NativeMessagingHosts", ManifestKind::chromium},
    {"Chromium", "Software\\Chromium\\NativeMessagingHosts", ManifestKind::chromium},
    {"Edge", "Software\\Microsoft\\Edge\\NativeMessagingHosts", ManifestKind::chromium},
    {"Brave", "Software\\BraveSoftware\\Brave-Browser\\NativeMessagingHosts",
     ManifestKind::chromium},
    {"Firefox", "Software\\Mozilla\\NativeMessagingHosts", ManifestKind::firefox},
}};
// The keys alone, in the same order.
inline constexpr auto kHostKeys = [] {
  std::array<std::string_view, kBrowserKeys.size()> keys{};
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = kBrowserKeys[i].key;
  return keys;
}();
inline constexpr std::string_view kExtensionsKey = "Software\\Google\\Chrome\\Extensions";

inline constexpr std::string_view kPortableRefusal =
    "portable mode: browser integration is not registered (nothing is written outside its "
    "folder); install QAR Torvanel Download Manager to use it";

// hive\key\host name.
std::string host_key(os::Hive hive, std::string_view key);
// hive\Software\Google\Chrome\Extensions\<store id>, removed in the 32-bit view.
std::string extension_key(os::Hive hive);
// add <key> /ve /t REG_SZ /d <manifest> /f
std::vector<std::string> reg_add_args(std::string_view key, std::string_view manifest);
// Every registry command of unregistration, in order.
std::vector<std::vector<std::string>> unregister_commands(os::Hive hive);

std::string registered_line(std::string_view chromium_manifest, std::string_view firefox_manifest);
std::string unregistered_line();

// The candidate files for the registry tool, in search order: the
// executable's folder, the system folder, the Windows folder, then each
// folder of the PATH value, split by `rules`.
std::vector<fs::path> reg_candidates(std::string_view file_name,
                                     const std::optional<fs::path>& exe_dir,
                                     const std::optional<fs::path>& system_folder,
                                     const std::optional<fs::path>& windows_folder,
                                     std::string_view path_value, os::PathListRules rules);

// Runs the registry tool with the arguments, standard input empty. A non-zero
// exit gives its standard error (invalid UTF-8 replaced, trimmed) as the error.
Status run_reg(const std::vector<std::string>& args);

// The two run modes. Each gives its result line (with its line feed) or the
// error that ends it; what was done before an error stays done. The entry
// point prints either.
Result<std::string> register_host(os::Hive hive);
Result<std::string> unregister_host(os::Hive hive);

}  // namespace nm::host
