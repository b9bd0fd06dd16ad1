#include "ipc/browser.hpp"

#include <gtest/gtest.h>

namespace nm::ipc {
namespace {

constexpr const char* kChrome =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36";
constexpr const char* kEdge =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36 Edg/124.0.2478.51";
constexpr const char* kOpera =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36 OPR/110.0.0.0";
constexpr const char* kFirefox =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:125.0) Gecko/20100101 Firefox/125.0";
constexpr const char* kSafari =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_4) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.4 Safari/605.1.15";

TEST(BrowserName, BrandsFirstThenTheUserAgent) {
  using Brands = std::vector<std::string>;
  const struct {
    const char* user_agent;
    Brands brands;
    const char* want;
  } cases[] = {
      // The order of the tests decides, not the order of the list.
      {kChrome, {"Brave", "Zen"}, "Zen Browser"},
      {kChrome, {"Chromium", "Microsoft Edge", "Opera"}, "Opera"},
      {kChrome, {"Waterfox", "Floorp", "LibreWolf"}, "LibreWolf"},
      {kChrome, {"Waterfox", "Floorp"}, "Floorp"},
      {kFirefox, {"Waterfox"}, "Waterfox"},
      {kChrome, {"Not-A.Brand", "Brave", "Chromium"}, "Brave Browser"},
      {kChrome, {"Opera GX"}, "Opera"},
      {"", {"Opera GX"}, "Opera"},
      {kChrome, {"Microsoft Edge"}, "Microsoft Edge"},
      // Brands match whole and case-sensitively.
      {kFirefox, {"zen"}, "Mozilla Firefox"},
      {kChrome, {"Brave Browser"}, "Google Chrome"},
      {kChrome, {"Google Chrome", "Chromium"}, "Google Chrome"},
      // Chromium forks carry "Chrome/" and "Safari/" as well.
      {kEdge, {}, "Microsoft Edge"},
      {kEdge, {"Google Chrome"}, "Microsoft Edge"},
      {kOpera, {}, "Opera"},
      {"Opera/9.80 (Windows NT 6.1) Presto/2.12", {}, "Opera"},
      {kFirefox, {}, "Mozilla Firefox"},
      {"Firefox/125.0 Chrome/1 Safari/1", {}, "Mozilla Firefox"},
      {"Firefox/125.0 OPR/1", {}, "Opera"},
      {kChrome, {}, "Google Chrome"},
      {kSafari, {}, "Apple Safari"},
      {"edg/1 chrome/1", {}, ""},
      {"", {}, ""},
      {"curl/8.5.0", {}, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(browser_name(c.user_agent, c.brands), c.want) << c.user_agent;
}

}  // namespace
}  // namespace nm::ipc
