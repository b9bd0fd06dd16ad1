#pragma once
// The `extension-seen` file: which extension version each browser runs.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace nm::host {

struct ExtensionSeenEntry {
  std::string browser;
  std::string version;
  bool operator==(const ExtensionSeenEntry&) const = default;
};

inline constexpr const char* kExtensionSeenFile = "extension-seen";
// Taken by every host around its update of the file; holds nothing.
inline constexpr const char* kExtensionSeenLockFile = "extension-seen.lock";

std::vector<ExtensionSeenEntry> parse_extension_seen(std::string_view text);
std::string format_extension_seen(const std::vector<ExtensionSeenEntry>& entries);

// The longest version recorded, in code points.
inline constexpr size_t kMaxVersionChars = 64;

// Records the browser's version, cleaned as sanitize_text does and cut to
// kMaxVersionChars; writes only when something changed or the file could not
// be read. Never fails towards its caller.
void record_extension_seen(const std::filesystem::path& data_dir, std::string_view browser,
                           std::string_view version);

}  // namespace nm::host
