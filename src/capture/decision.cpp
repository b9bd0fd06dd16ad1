#include "capture/decision.hpp"

#include <cstdint>
#include <vector>

#include "capture/patterns.hpp"

namespace nm::capture {

namespace {

const ReasonTexts& texts(DeclineReason r) {
  return kReasons[static_cast<size_t>(r)];
}

bool any_site_matches(std::string_view sites, std::string_view url) {
  const std::string host = host_of(url);
  for (const std::string& pattern : split_words(sites))
    if (site_matches(host, pattern)) return true;
  return false;
}

bool type_listed(const CaptureRules& rules, std::string_view file_name) {
  const size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = file_name.substr(dot + 1);
  for (const std::string& word : split_words(rules.auto_types))
    if (type_matches(extension, word)) return true;
  return false;
}

}  // namespace

std::string_view variant_name(DeclineReason r) {
  return texts(r).variant;
}
std::string_view wire_word(DeclineReason r) {
  return texts(r).wire;
}
std::string_view explanation(DeclineReason r) {
  return texts(r).text;
}

std::optional<DeclineReason> reason_from_word(std::string_view word) {
  for (size_t i = 0; i < std::size(kReasons); ++i)
    if (kReasons[i].wire == word) return static_cast<DeclineReason>(i);
  return std::nullopt;
}

std::optional<DeclineReason> browser_gate(const CaptureRules& rules, std::string_view browser) {
  if (!rules.advanced_integration) return DeclineReason::integration_off;
  // A ticked entry does not end the search: any unticked entry of the name wins.
  for (const auto& [name, ticked] : rules.browsers)
    if (!ticked && name == browser) return DeclineReason::browser;
  return std::nullopt;
}

std::optional<DeclineReason> refusal(const CaptureRules& rules, std::string_view url,
                                     std::string_view file_name, std::string_view browser) {
  if (auto gate = browser_gate(rules, browser)) return gate;
  if (!type_listed(rules, file_name)) return DeclineReason::file_type;
  if (any_site_matches(rules.excluded_sites, url)) return DeclineReason::site;
  for (const std::string& pattern : rules.excluded_addresses)
    if (address_matches(url, pattern)) return DeclineReason::address;
  return std::nullopt;
}

uint64_t min_size_bytes(const CaptureRules& rules) {
  constexpr uint64_t kUnit = 1024;
  if (rules.capture_min_kb > UINT64_MAX / kUnit) return UINT64_MAX;
  return rules.capture_min_kb * kUnit;
}

std::optional<DeclineReason> decide_download(const Download& d, const CaptureRules& rules) {
  if (d.explicit_) return std::nullopt;
  const std::string file_name = file_name_of(d.filename, d.url);
  if (auto reason = refusal(rules, d.url, file_name, d.browser)) return reason;
  if (d.size && *d.size != 0 && *d.size < min_size_bytes(rules)) return DeclineReason::small;
  // A redirect can only add Site or Address: gate and type do not depend on
  // the address, and the size is not tested twice.
  if (d.final_url && *d.final_url != d.url)
    return refusal(rules, *d.final_url, file_name, d.browser);
  return std::nullopt;
}

bool video_button_shown(const CaptureRules& rules, std::string_view page_url,
                        std::string_view browser) {
  return !browser_gate(rules, browser) && rules.video_panel &&
         !any_site_matches(rules.video_panel_sites, page_url);
}

}  // namespace nm::capture
