#include "capture/browser.hpp"

#include <gtest/gtest.h>
#include <tuple>

namespace nm::capture {
TEST(BrowserName, BrandsThenTheUserAgent) {
  const std::string chrome = "Mozilla/5.0 AppleWebKit/537.36 Chrome/124.0.0.0 Safari/537.36";
  const std::string firefox =
      "Mozilla/5.0 (Windows NT 10.0; rv:125.0) Gecko/20100101 Firefox/125.0";
  // Brands first, then the user agent; the order of the tests decides, not the list's.
  const std::tuple<std::string, std::vector<std::string>, const char*> cases[] = {
      {chrome, {"Brave", "Zen"}, "Zen Browser"},
      {chrome, {"Chromium", "Microsoft Edge", "Opera"}, "Opera"},
      {chrome, {"Waterfox", "Floorp", "LibreWolf"}, "LibreWolf"},
      {firefox, {"Waterfox", "Floorp"}, "Floorp"},
      {"", {"Opera GX"}, "Opera"},
      // Brands match whole and case-sensitively.
      {firefox, {"zen"}, "Mozilla Firefox"},
      {chrome, {"Brave Browser", "Google Chrome"}, "Google Chrome"},
      // Chromium forks carry "Chrome/" and "Safari/" as well.
      {chrome + " OPR/110.0", {}, "Opera"},
      {"Opera/9.80 (Windows NT 6.1) Presto/2.12", {}, "Opera"},
      {"Firefox/125.0 Chrome/1 Safari/1", {}, "Mozilla Firefox"},
      {"Version/17.4 Safari/605.1.15", {}, "Apple Safari"},
      {"edg/1 chrome/1", {}, ""}};
  for (const auto& [agent, brands, want] : cases)
    EXPECT_EQ(browser_name(agent, brands), want) << agent;
}
}  // namespace nm::capture
