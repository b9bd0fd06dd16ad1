#include "capture/browser.hpp"

#include <algorithm>

namespace nm::capture {

namespace {

struct Rule {
  std::string_view test;
  std::string_view name;
};

// Brands that only these browsers report; the order decides between several.
constexpr Rule kBrandRules[] = {
    {"Zen", "Zen Browser"},   {"LibreWolf", "LibreWolf"},           {"Floorp", "Floorp"},
    {"Waterfox", "Waterfox"}, {"Brave", "Brave Browser"},           {"Opera", "Opera"},
    {"Opera GX", "Opera"},    {"Microsoft Edge", "Microsoft Edge"},
};

// Chromium forks name Chrome and Safari too, so they are looked for first.
constexpr Rule kAgentRules[] = {
    {"Edg/", "Microsoft Edge"},   {"OPR/", "Opera"},
    {"Opera", "Opera"},           {"Firefox/", "Mozilla Firefox"},
    {"Chrome/", "Google Chrome"}, {"Safari/", "Apple Safari"},
};

}  // namespace

std::string browser_name(std::string_view user_agent, const std::vector<std::string>& brands) {
  for (const Rule& r : kBrandRules)
    if (std::find(brands.begin(), brands.end(), r.test) != brands.end()) return std::string(r.name);
  for (const Rule& r : kAgentRules)
    if (user_agent.find(r.test) != std::string_view::npos) return std::string(r.name);
  return {};
}

}  // namespace nm::capture
