#pragma once
// The application's capture options, read from downloads.json in the data
// directory. The host only reads the file; a missing or broken file means the
// built-in defaults.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.hpp"

namespace nm::capture {

// The "File types" list as shipped.
extern const std::string_view kDefaultAutoTypes;
// Sites whose downloads stay with the browser unless the user says otherwise.
extern const std::string_view kDefaultExcludedSites;
// Earlier shipped values of the "File types" list (53 words, the same with
// TORRENT, then 71 words); a file that still holds one of them (the same
// words, whatever their order, case, repeats and spacing) gets the current
// list.
extern const std::string_view kLegacyAutoTypes[3];

inline constexpr std::string_view kSettingsFile = "downloads.json";

// (browser name, ticked), in the order of the options page.
using BrowserTicks = std::vector<std::pair<std::string, bool>>;

// Each field's initialiser is the option's default.
struct CaptureRules {
  bool advanced_integration = true;
  BrowserTicks browsers;
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

// Where an option is kept. Its type says how it is read and shown: a flag, a
// text of white-space separated words, a list of addresses, the browser
// list, or a size in units of 1024 bytes.
using OptionField = std::variant<bool CaptureRules::*, std::string CaptureRules::*,
                                 std::vector<std::string> CaptureRules::*,
                                 BrowserTicks CaptureRules::*, uint64_t CaptureRules::*>;

struct CaptureOption {
  std::string_view key;  // in the "settings" object
  OptionField field;
  std::string_view unit = {};   // what the words of a text count, or what the size is in
  std::string_view empty = {};  // what an empty value means
};

// Every option, in the order of CaptureRules' fields: the settings reader,
// the doctor's summary and its report all go by this table.
inline constexpr CaptureOption kCaptureOptions[] = {
    {"advanced_integration", &CaptureRules::advanced_integration},
    {"browsers", &CaptureRules::browsers, {}, "none listed: every browser is captured"},
    {"auto_types", &CaptureRules::auto_types, "types",
     "none: every download stays with the browser"},
    {"excluded_sites", &CaptureRules::excluded_sites, "sites", "none"},
    {"excluded_addresses", &CaptureRules::excluded_addresses, {}, "none"},
    {"video_panel", &CaptureRules::video_panel},
    {"video_panel_sites", &CaptureRules::video_panel_sites, "sites", "none"},
    {"capture_opened", &CaptureRules::capture_opened},
    {"capture_min_kb", &CaptureRules::capture_min_kb, "units of 1024 bytes", "no minimum size"},
};

// The keys of the "settings" object, in the table's order.
inline constexpr auto kRuleFields = [] {
  std::array<std::string_view, std::size(kCaptureOptions)> keys{};
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = kCaptureOptions[i].key;
  return keys;
}();

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
