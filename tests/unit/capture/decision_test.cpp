#include "capture/decision.hpp"

#include <gtest/gtest.h>

namespace nm::capture {
using R = DeclineReason;

constexpr const char *kChrome = "Google Chrome", *kEdge = "Microsoft Edge";

// The edges of the browser list and the video button (the rest is end to end).
TEST(BrowserGate, AnyUntickedEntryOfTheNameRefuses) {
  CaptureRules rules;
  EXPECT_EQ(browser_gate(rules, ""), std::nullopt);
  rules.browsers = {{"Google Chrome", true}, {"Google Chrome", false}, {"opera", false}};
  EXPECT_EQ(browser_gate(rules, "Google Chrome"), R::browser);
  EXPECT_EQ(browser_gate(rules, "Opera"), std::nullopt);  // names match case-sensitively
  EXPECT_EQ(reason_from_word("FILE-TYPE"), std::nullopt);
  for (size_t i = 0; i < std::size(kReasons); ++i)
    EXPECT_EQ(reason_from_word(kReasons[i].wire), static_cast<R>(i)) << kReasons[i].wire;

  rules = {};
  rules.excluded_sites = "www.example.com";
  EXPECT_TRUE(video_button_shown(rules, "https://www.example.com/v", "Opera"));
  EXPECT_TRUE(video_button_shown(rules, "https://example.org/v", "Opera"));
  rules.browsers = {{"Opera", false}};
  EXPECT_FALSE(video_button_shown(rules, "https://example.org/v", "Opera"));
  EXPECT_TRUE(video_button_shown(rules, "https://example.org/v", "Google Chrome"));
  rules.video_panel = false;
  EXPECT_FALSE(video_button_shown(rules, "https://example.org/v", "Google Chrome"));
}

TEST(DecideDownload, AppliesTheTestsInOrder) {
  // Default rules but for the fields given; Chrome unless the browser says otherwise.
  const struct Case {
    const char* url;
    std::optional<DeclineReason> want;
    std::optional<uint64_t> size{};
    uint64_t min_kb = 0;
    const char *sites = nullptr, *address = nullptr, *final_url = nullptr, *filename = nullptr;
    const char* unticked = nullptr;
    const char* browser = kChrome;
    bool off = false, explicit_ = false;
  } cases[] = {
      {"https://h/file.zip", std::nullopt},
      {"https://h/page.html", R::integration_off, 1, 9, "h", {}, {}, {}, {}, kChrome, true},
      {"https://h/page.html", std::nullopt, {}, 0, {}, {}, {}, {}, {}, kChrome, true, true},
      {"https://h/a.zip", std::nullopt, {}, 0, {}, {}, {}, {}, kChrome, kEdge},
      {"https://h/archive", R::file_type},
      {"https://h/archive.r07", std::nullopt},
      {"https://h/dl", R::file_type},
      {"https://h/dl", std::nullopt, {}, 0, {}, {}, {}, "setup.exe"},
      {"https://h/page.html", R::file_type, {}, 0, "h"},
      {"https://www.h.test/a.zip", R::site, {}, 0, "x *.h.test"},
      {"https://h/a.zip", R::site, {}, 0, "h", "*"},
      {"https://h/a.zip", R::address, 1, 1, {}, "*.zip"},
      {"https://h/a.zip", std::nullopt, 1024, 1},
      {"https://h/a.zip", std::nullopt, 0, 1},
      {"https://h/a.zip", std::nullopt, {}, 1},
      // The threshold saturates instead of wrapping.
      {"https://h/a.zip", R::small, UINT64_MAX - 1, 1ull << 54},
      {"https://h/a.zip", std::nullopt, UINT64_MAX, UINT64_MAX},
      // The final address adds Site or Address, after the size test.
      {"https://h/a.zip", R::address, {}, 0, {}, "m.test/*", "https://m.test/a.zip"},
      {"https://h/a.zip", std::nullopt, {}, 0, {}, {}, "https://m.test/token"}};
  for (const Case& c : cases) {
    CaptureRules rules;
    rules.advanced_integration = !c.off;
    rules.capture_min_kb = c.min_kb;
    if (c.sites) rules.excluded_sites = c.sites;
    if (c.address) rules.excluded_addresses = {"unrelated", c.address};
    if (c.unticked) rules.browsers = {{c.unticked, false}};
    Download d{.url = c.url, .size = c.size, .browser = c.browser, .explicit_ = c.explicit_};
    if (c.filename) d.filename = c.filename;
    if (c.final_url) d.final_url = c.final_url;
    EXPECT_EQ(decide_download(d, rules), c.want) << c.url << " " << c.size.value_or(0);
  }
}
}  // namespace nm::capture
