#pragma once
// Whether a download is taken over or left to the browser, and why; whether
// the video button may be shown on a page.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "capture/settings.hpp"

namespace nm::capture {

// Why a download stays with the browser, in order of precedence.
enum class DeclineReason { integration_off, browser, file_type, site, address, small };

// Each reason's texts, in the order of the enumeration.
struct ReasonTexts {
  std::string_view variant;
  std::string_view wire;
  std::string_view text;
};
inline constexpr ReasonTexts kReasons[] = {
    {"IntegrationOff", "integration-off",
     "Options > General > Use advanced browser integration is off"},
    {"Browser", "browser",
     "the browser is unticked in Options > General > Capture downloads from the following "
     "browsers"},
    {"FileType", "file-type", "its type isn't in Options > File types"},
    {"Site", "site",
     "its site is in Options > File types > Don't start downloading automatically from the "
     "following sites"},
    {"Address", "address",
     "its address is in Options > File types > Edit list (addresses left to the browser)"},
    {"Small", "small", "it is smaller than Options > File types > Don't take files smaller than"},
};

// "IntegrationOff", "FileType", ...: shown in replies.
std::string_view variant_name(DeclineReason r);
// "integration-off", "file-type", ...: exchanged with the extension.
std::string_view wire_word(DeclineReason r);
// The option that caused it, for the log.
std::string_view explanation(DeclineReason r);
// The reason of an exact, case-sensitive wire word.
std::optional<DeclineReason> reason_from_word(std::string_view word);

// The fields of a download message that the decision reads.
struct Download {
  std::string_view url{};
  std::optional<std::string_view> final_url{};
  std::optional<std::string_view> filename{};
  std::optional<uint64_t> size{};
  std::string_view browser{};  // the sender's name, as browser_name gives it
  bool explicit_ = false;      // the user asked for this download
};

// The integration switch and the browser list.
std::optional<DeclineReason> browser_gate(const CaptureRules& rules, std::string_view browser);
// Gate, file type, excluded sites, excluded addresses, for one address.
std::optional<DeclineReason> refusal(const CaptureRules& rules, std::string_view url,
                                     std::string_view file_name, std::string_view browser);
// The whole decision; none means the download is taken over.
std::optional<DeclineReason> decide_download(const Download& download, const CaptureRules& rules);
bool video_button_shown(const CaptureRules& rules, std::string_view page_url,
                        std::string_view browser);

// capture_min_kb in bytes, saturated at the largest 64-bit value.
uint64_t min_size_bytes(const CaptureRules& rules);

}  // namespace nm::capture
