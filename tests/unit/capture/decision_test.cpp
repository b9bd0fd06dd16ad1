#include "capture/decision.hpp"

#include <gtest/gtest.h>

namespace nm::capture {
using R = DeclineReason;

// The edges of the browser list and the video button (the rest is end to end).
TEST(BrowserGate, AnyUntickedEntryOfTheNameRefuses) {
  CaptureRules rules;
  rules.browsers = {{"Google Chrome", true}, {"Google Chrome", false}, {"opera", false}};
  EXPECT_EQ(browser_gate(rules, "Google Chrome"), R::browser);
  EXPECT_EQ(browser_gate(rules, "Opera"), std::nullopt);  // names match case-sensitively
  EXPECT_EQ(reason_from_word("FILE-TYPE"), std::nullopt);
  for (size_t i = 0; i < std::size(kReasons); ++i)
    EXPECT_EQ(reason_from_word(kReasons[i].wire), static_cast<R>(i)) << kReasons[i].wire;

  rules = {};
  rules.excluded_sites = "www.example.com";
  EXPECT_TRUE(video_button_shown(rules, "https://www.example.com/v", "Opera"));
  rules.browsers = {{"Opera", false}};
  EXPECT_FALSE(video_button_shown(rules, "https://example.org/v", "Opera"));
  rules.video_panel = false;
  EXPECT_FALSE(video_button_shown(rules, "https://example.org/v", "Google Chrome"));
}

TEST(DecideDownload, AppliesTheTestsInOrder) {
  // Default rules but for the fields given.
  const struct Case {
    const char* url;
    std::optional<DeclineReason> want;
    std::optional<uint64_t> size{};
    uint64_t min_kb = 0;
    const char *sites = nullptr, *address = nullptr, *final_url = nullptr, *filename = nullptr;
    bool off = false;
  } cases[] = {{"https://h/file.zip", std::nullopt},
               {"https://h/page.html", R::integration_off, 1, 9, "h", {}, {}, {}, true},
               {"https://h/dl", R::file_type},
               {"https://h/dl", std::nullopt, {}, 0, {}, {}, {}, "setup.exe"},
               {"https://h/page.html", R::file_type, {}, 0, "h"},
               {"https://www.h.test/a.zip", R::site, {}, 0, "x *.h.test"},
               {"https://h/a.zip", R::site, {}, 0, "h", "*"},
               {"https://h/a.zip", R::address, 1, 1, {}, "*.zip"},
               {"https://h/a.zip", std::nullopt, 1024, 1},
               {"https://h/a.zip", std::nullopt, 0, 1},
               // The threshold saturates instead of wrapping.
               {"https://h/a.zip", R::small, UINT64_MAX - 1, 1ull << 54},
               {"https://h/a.zip", std::nullopt, UINT64_MAX, UINT64_MAX},
               // The file name is the address's, not the final address's.
               {"https://h/a.zip", std::nullopt, {}, 0, {}, {}, "https://m.test/token"}};
  for (const Case& c : cases) {
    CaptureRules rules;
    rules.advanced_integration = !c.off;
    rules.capture_min_kb = c.min_kb;
    if (c.sites) rules.excluded_sites = c.sites;
    if (c.address) rules.excluded_addresses = {"unrelated", c.address};
    Download d{.url = c.url, .size = c.size};
    if (c.filename) d.filename = c.filename;
    if (c.final_url) d.final_url = c.final_url;
    EXPECT_EQ(decide_download(d, rules), c.want) << c.url << " " << c.size.value_or(0);
  }
}
}  // namespace nm::capture
