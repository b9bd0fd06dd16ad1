#pragma once
// The application's capture options, read from downloads.json in the data
// directory. The host only reads the file; a missing or broken file means the
// built-in defaults.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.hpp"

namespace nm::capture {

// The "File types" list as shipped.
extern const std::string_view kDefaultAutoTypes;
// Sites whose downloads stay with the browser unless the user says otherwise.
extern const std::string_view kDefaultExcludedSites;
// Earlier shipped values of the "File types" list; a file that still holds
// one of them gets the current list.
extern const std::string_view LEGACY_AUTO_TYPES[3];

inline constexpr std::string_view kSettingsFile = "downloads.json";

// The keys of the "settings" object, in the order of CaptureRules' fields.
inline constexpr std::string_view kRuleFields[] = {
    "advanced_integration", "browsers",           "auto_types",
    "excluded_sites",       "excluded_addresses", "video_panel",
    "video_panel_sites",    "capture_opened",     "capture_min_kb",
};

struct CaptureRules {
  bool advanced_integration = true;
  // (browser name, ticked), in the order of the options page.
  std::vector<std::pair<std::string, bool>> browsers;
  std::string auto_types{kDefaultAutoTypes};
  std::string excluded_sites{kDefaultExcludedSites};
  std::vector<std::string> excluded_addresses;
  bool video_panel = true;
  std::string video_panel_sites;
  bool capture_opened = true;
  // Units of 1024 bytes; 0 sets no minimum.
  uint64_t capture_min_kb = 0;

  static CaptureRules defaults() { return {}; }
  bool operator==(const CaptureRules&) const = default;
};

// The rules of a settings file's bytes, the old type lists upgraded; the
// error is the reader's text with its position.
Result<CaptureRules> read_capture_rules(std::string_view bytes);
// The rules of <data_dir>/downloads.json, or the defaults when there is no
// data directory or the file cannot be read or is broken in any way.
CaptureRules load_capture_rules(const std::optional<std::filesystem::path>& data_dir);

// Replaces an `auto_types` that holds the same words as a legacy list (order,
// case, repeats and spacing aside) by kDefaultAutoTypes.
void upgrade_auto_types(CaptureRules& rules);

}  // namespace nm::capture
