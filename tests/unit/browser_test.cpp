#include "ipc/browser.hpp"

#include <gtest/gtest.h>

namespace nm::ipc {
namespace {

TEST(BrowserName, BrandsFirstThenTheUserAgent) {
  const std::string chrome = "Mozilla/5.0 AppleWebKit/537.36 Chrome/124.0.0.0 Safari/537.36";
  const std::string firefox =
      "Mozilla/5.0 (Windows NT 10.0; rv:125.0) Gecko/20100101 Firefox/125.0";
  const struct {
    std::string user_agent;
    std::vector<std::string> brands;
    const char* want;
  } cases[] = {
      // The order of the tests decides, not the order of the list.
      {chrome, {"Brave", "Zen"}, "Zen Browser"},
      {chrome, {"Chromium", "Microsoft Edge", "Opera"}, "Opera"},
      {chrome, {"Waterfox", "Floorp", "LibreWolf"}, "LibreWolf"},
      {firefox, {"Waterfox", "Floorp"}, "Floorp"},
      {chrome, {"Not-A.Brand", "Brave"}, "Brave Browser"},
      {"", {"Opera GX"}, "Opera"},
      // Brands match whole and case-sensitively.
      {firefox, {"zen"}, "Mozilla Firefox"},
      {chrome, {"Brave Browser", "Google Chrome"}, "Google Chrome"},
      // Chromium forks carry "Chrome/" and "Safari/" as well.
      {chrome + " Edg/124.0", {"Google Chrome"}, "Microsoft Edge"},
      {chrome + " OPR/110.0", {}, "Opera"},
      {"Opera/9.80 (Windows NT 6.1) Presto/2.12", {}, "Opera"},
      {"Firefox/125.0 Chrome/1 Safari/1", {}, "Mozilla Firefox"},
      {"Version/17.4 Safari/605.1.15", {}, "Apple Safari"},
      {"edg/1 chrome/1", {}, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(browser_name(c.user_agent, c.brands), c.want) << c.user_agent;
}

}  // namespace
}  // namespace nm::ipc
