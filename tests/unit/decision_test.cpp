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

TEST(DeclineReason, WireWordsRoundTripExactly) {
  for (R r : {R::IntegrationOff, R::Browser, R::FileType, R::Site, R::Address, R::Small})
    EXPECT_EQ(reason_from_word(wire_word(r)), r) << variant_name(r);
  for (const char* word : {"FILE-TYPE", "FileType", "site-access", "", "small "})
    EXPECT_EQ(reason_from_word(word), std::nullopt) << word;
}

TEST(BrowserGate, AnyUntickedEntryOfTheNameRefuses) {
  using List = std::vector<std::pair<std::string, bool>>;
  const struct {
    List browsers;
    const char* browser;
    Maybe want;
  } cases[] = {
      {{}, "", std::nullopt},
      {{{"Google Chrome", false}}, "Microsoft Edge", std::nullopt},
      {{{"Google Chrome", true}, {"Google Chrome", false}}, "Google Chrome", R::Browser},
      {{{"google chrome", false}}, "Google Chrome", std::nullopt},
  };
  for (const auto& c : cases) {
    CaptureRules rules;
    rules.browsers = c.browsers;
    EXPECT_EQ(browser_gate(rules, c.browser), c.want) << c.browser;
    rules.advanced_integration = false;
    EXPECT_EQ(browser_gate(rules, c.browser), R::IntegrationOff);
  }
}

TEST(DecideDownload, AppliesTheTestsInOrder) {
  // Rules are the defaults but for the fields named; the browser is Chrome.
  struct Case {
    const char* url;
    Maybe want;
    const char* filename = nullptr;
    const char* final_url = nullptr;
    std::optional<uint64_t> size{};
    uint64_t min_kb = 0;
    const char* sites = nullptr;
    const char* address = nullptr;
    const char* unticked = nullptr;
    const char* agent = kChrome;
    bool off = false;
    bool explicit_ = false;
  };
  const Case cases[] = {
      {.url = "https://h/file.zip", .want = std::nullopt},
      {.url = "https://h/page.html",
       .want = R::IntegrationOff,
       .size = 1,
       .min_kb = 9,
       .sites = "h",
       .off = true},
      {.url = "https://h/page.html", .want = std::nullopt, .off = true, .explicit_ = true},
      {.url = "https://h/a.zip", .want = R::Browser, .unticked = "Google Chrome"},
      {.url = "https://h/a.zip", .want = std::nullopt, .unticked = "Google Chrome", .agent = kEdge},
      {.url = "https://h/archive", .want = R::FileType},
      {.url = "https://h/archive.r07", .want = std::nullopt},
      {.url = "https://h/dl", .want = R::FileType},
      {.url = "https://h/dl", .want = std::nullopt, .filename = "setup.exe"},
      {.url = "https://h/page.html", .want = R::FileType, .sites = "h"},
      {.url = "https://www.h.test/a.zip", .want = R::Site, .sites = "x *.h.test"},
      {.url = "https://download.windowsupdate.com/kb.msu", .want = R::Site},
      {.url = "https://h/a.zip", .want = R::Site, .sites = "h", .address = "*"},
      {.url = "https://h/a.zip", .want = R::Address, .size = 1, .min_kb = 1, .address = "*.zip"},
      {.url = "https://h/a.zip", .want = R::Small, .size = 1023, .min_kb = 1},
      {.url = "https://h/a.zip", .want = std::nullopt, .size = 1024, .min_kb = 1},
      {.url = "https://h/a.zip", .want = std::nullopt, .size = 0, .min_kb = 1},
      {.url = "https://h/a.zip", .want = std::nullopt, .min_kb = 1},
      // The threshold saturates instead of wrapping.
      {.url = "https://h/a.zip", .want = R::Small, .size = UINT64_MAX - 1, .min_kb = 1ull << 54},
      {.url = "https://h/a.zip", .want = std::nullopt, .size = UINT64_MAX, .min_kb = UINT64_MAX},
      // The final address adds Site or Address, after the size test.
      {.url = "https://h/a.zip",
       .want = R::Site,
       .final_url = "https://m.test/a.zip",
       .sites = "m.test"},
      {.url = "https://h/a.zip",
       .want = R::Small,
       .final_url = "https://m.test/a.zip",
       .size = 9,
       .min_kb = 1,
       .sites = "m.test"},
      {.url = "https://h/a.zip",
       .want = R::Address,
       .final_url = "https://m.test/a.zip",
       .address = "m.test/*"},
      {.url = "https://h/a.zip", .want = std::nullopt, .final_url = "https://m.test/token"},
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
    EXPECT_EQ(decide_download(d, rules), c.want)
        << c.url << " " << c.filename << " " << c.final_url;
  }
}

TEST(VideoButtonShown, NeedsTheGateThePanelAndAnUnlistedSite) {
  CaptureRules rules;
  rules.excluded_sites = "www.example.com";
  EXPECT_TRUE(video_button_shown(rules, "https://www.example.com/v", "Opera"));
  rules.video_panel_sites = "a.test *.example.com";
  EXPECT_FALSE(video_button_shown(rules, "https://www.example.com/v", "Opera"));
  EXPECT_TRUE(video_button_shown(rules, "https://example.org/v", "Opera"));
  rules.browsers = {{"Opera", false}};
  EXPECT_FALSE(video_button_shown(rules, "https://example.org/v", "Opera"));
  EXPECT_TRUE(video_button_shown(rules, "https://example.org/v", "Google Chrome"));
  rules.video_panel = false;
  EXPECT_FALSE(video_button_shown(rules, "https://example.org/v", "Google Chrome"));
}

}  // namespace
}  // namespace nm::capture
