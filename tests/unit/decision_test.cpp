#include "ipc/capture/decision.hpp"

#include <gtest/gtest.h>

namespace nm::capture {
namespace {

using R = DeclineReason;
using Maybe = std::optional<DeclineReason>;

constexpr const char* kChrome =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36";
constexpr const char* kEdge = "Mozilla/5.0 Chrome/124.0.0.0 Safari/537.36 Edg/124.0.2478.51";

// The wire words and the gate's two reasons are shown end to end; these are
// the edges of the browser list.
TEST(BrowserGate, AnyUntickedEntryOfTheNameRefuses) {
  CaptureRules rules;
  EXPECT_EQ(browser_gate(rules, ""), std::nullopt);
  rules.browsers = {{"Google Chrome", true}, {"Google Chrome", false}, {"opera", false}};
  EXPECT_EQ(browser_gate(rules, "Google Chrome"), R::Browser);
  EXPECT_EQ(browser_gate(rules, "Opera"), std::nullopt);  // names match case-sensitively
  EXPECT_EQ(reason_from_word("FILE-TYPE"), std::nullopt);
}

TEST(DecideDownload, AppliesTheTestsInOrder) {
  // Rules are the defaults but for the fields given; the browser is Chrome
  // unless the agent says otherwise.
  const struct Case {
    const char* url;
    Maybe want;
    std::optional<uint64_t> size{};
    uint64_t min_kb = 0;
    const char* sites = nullptr;
    const char* address = nullptr;
    const char* final_url = nullptr;
    const char* filename = nullptr;
    const char* unticked = nullptr;
    const char* agent = kChrome;
    bool off = false, explicit_ = false;
  } cases[] = {
      {"https://h/file.zip", std::nullopt},
      {"https://h/page.html", R::IntegrationOff, 1, 9, "h", {}, {}, {}, {}, kChrome, true},
      {"https://h/page.html", std::nullopt, {}, 0, {}, {}, {}, {}, {}, kChrome, true, true},
      {"https://h/a.zip", std::nullopt, {}, 0, {}, {}, {}, {}, "Google Chrome", kEdge},
      {"https://h/archive", R::FileType},
      {"https://h/archive.r07", std::nullopt},
      {"https://h/dl", R::FileType},
      {"https://h/dl", std::nullopt, {}, 0, {}, {}, {}, "setup.exe"},
      {"https://h/page.html", R::FileType, {}, 0, "h"},
      {"https://www.h.test/a.zip", R::Site, {}, 0, "x *.h.test"},
      {"https://h/a.zip", R::Site, {}, 0, "h", "*"},
      {"https://h/a.zip", R::Address, 1, 1, {}, "*.zip"},
      {"https://h/a.zip", std::nullopt, 1024, 1},
      {"https://h/a.zip", std::nullopt, 0, 1},
      {"https://h/a.zip", std::nullopt, {}, 1},
      // The threshold saturates instead of wrapping.
      {"https://h/a.zip", R::Small, UINT64_MAX - 1, 1ull << 54},
      {"https://h/a.zip", std::nullopt, UINT64_MAX, UINT64_MAX},
      // The final address adds Site or Address, after the size test.
      {"https://h/a.zip", R::Address, {}, 0, {}, "m.test/*", "https://m.test/a.zip"},
      {"https://h/a.zip", std::nullopt, {}, 0, {}, {}, "https://m.test/token"},
  };
  const std::vector<std::string> no_brands;
  for (const Case& c : cases) {
    CaptureRules rules;
    rules.advanced_integration = !c.off;
    rules.capture_min_kb = c.min_kb;
    if (c.sites) rules.excluded_sites = c.sites;
    if (c.address) rules.excluded_addresses = {"unrelated", c.address};
    if (c.unticked) rules.browsers = {{c.unticked, false}};
    Download d{.url = c.url,
               .size = c.size,
               .user_agent = c.agent,
               .brands = no_brands,
               .explicit_ = c.explicit_};
    if (c.filename) d.filename = c.filename;
    if (c.final_url) d.final_url = c.final_url;
    EXPECT_EQ(decide_download(d, rules), c.want) << c.url << " " << c.size.value_or(0);
  }
}

// The panel's own site list is shown end to end.
TEST(VideoButtonShown, NeedsTheGateThePanelAndAnUnlistedSite) {
  CaptureRules rules;
  rules.excluded_sites = "www.example.com";
  EXPECT_TRUE(video_button_shown(rules, "https://www.example.com/v", "Opera"));
  EXPECT_TRUE(video_button_shown(rules, "https://example.org/v", "Opera"));
  rules.browsers = {{"Opera", false}};
  EXPECT_FALSE(video_button_shown(rules, "https://example.org/v", "Opera"));
  EXPECT_TRUE(video_button_shown(rules, "https://example.org/v", "Google Chrome"));
  rules.video_panel = false;
  EXPECT_FALSE(video_button_shown(rules, "https://example.org/v", "Google Chrome"));
}

}  // namespace
}  // namespace nm::capture
