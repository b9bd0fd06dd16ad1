#include "ipc/capture/decision.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace nm::capture {
namespace {

using R = NoticeReason;
using Maybe = std::optional<NoticeReason>;

constexpr const char* kChrome =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36";
constexpr const char* kEdge =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36 Edg/124.0.2478.51";

const std::vector<std::string> kNoBrands;
const std::vector<std::string> kBraveBrands = {"Chromium", "Brave"};

Download chrome_download(std::string_view url) {
  Download d;
  d.url = url;
  d.user_agent = kChrome;
  d.brands = kNoBrands;
  return d;
}

TEST(NoticeReason, HasItsThreeTexts) {
  const struct {
    R reason;
    const char* variant;
    const char* wire;
    const char* text;
  } cases[] = {
      {R::IntegrationOff, "IntegrationOff", "integration-off",
       "Options > General > Use advanced browser integration is off"},
      {R::Browser, "Browser", "browser",
       "the browser is unticked in Options > General > Capture downloads from the following "
       "browsers"},
      {R::FileType, "FileType", "file-type", "its type isn't in Options > File types"},
      {R::Site, "Site", "site",
       "its site is in Options > File types > Don't start downloading automatically from the "
       "following sites"},
      {R::Address, "Address", "address",
       "its address is in Options > File types > Edit list (addresses left to the browser)"},
      {R::Small, "Small", "small",
       "it is smaller than Options > File types > Don't take files smaller than"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(variant_name(c.reason), c.variant);
    EXPECT_EQ(wire_word(c.reason), c.wire);
    EXPECT_EQ(explanation(c.reason), c.text);
    EXPECT_EQ(reason_from_word(c.wire), c.reason);
  }
  for (const char* unknown : {"FILE-TYPE", "FileType", "site-access", "", " site", "small "})
    EXPECT_EQ(reason_from_word(unknown), std::nullopt) << unknown;
}

TEST(BrowserGate, AnyUntickedEntryOfTheNameRefuses) {
  const struct {
    bool integration;
    std::vector<std::pair<std::string, bool>> browsers;
    const char* browser;
    Maybe want;
  } cases[] = {
      {true, {}, "Google Chrome", std::nullopt},
      {true, {}, "", std::nullopt},
      {false, {}, "Google Chrome", R::IntegrationOff},
      {false, {{"Google Chrome", false}}, "Google Chrome", R::IntegrationOff},
      {true, {{"Google Chrome", false}}, "Google Chrome", R::Browser},
      {true, {{"Google Chrome", false}}, "Microsoft Edge", std::nullopt},
      {true, {{"Google Chrome", true}}, "Google Chrome", std::nullopt},
      {true, {{"Google Chrome", true}, {"Google Chrome", false}}, "Google Chrome", R::Browser},
      {true, {{"Google Chrome", false}, {"Google Chrome", true}}, "Google Chrome", R::Browser},
      {true, {{"google chrome", false}}, "Google Chrome", std::nullopt},
      {true, {{"", false}}, "", R::Browser},
  };
  for (const auto& c : cases) {
    CaptureRules rules;
    rules.advanced_integration = c.integration;
    rules.browsers = c.browsers;
    EXPECT_EQ(browser_gate(rules, c.browser), c.want) << c.browser;
  }
}

TEST(DecideDownload, AppliesTheTestsInOrder) {
  using Edit = std::function<void(CaptureRules&, Download&)>;
  const auto nothing = [](CaptureRules&, Download&) {};
  const struct {
    const char* name;
    const char* url;
    Edit edit;
    Maybe want;
  } cases[] = {
      {"defaults take a zip", "https://h/file.zip", nothing, std::nullopt},
      {"integration off", "https://h/file.zip",
       [](CaptureRules& r, Download&) { r.advanced_integration = false; }, R::IntegrationOff},
      {"integration off beats every other test", "https://host.test/page.html",
       [](CaptureRules& r, Download& d) {
         r.advanced_integration = false;
         r.capture_min_kb = 10;
         r.excluded_sites = "host.test";
         d.size = 1;
       },
       R::IntegrationOff},
      {"explicit skips every test", "https://h/page.html",
       [](CaptureRules& r, Download& d) {
         r.advanced_integration = false;
         d.explicit_ = true;
       },
       std::nullopt},
      {"unticked browser", "https://h/file.zip",
       [](CaptureRules& r, Download&) {
         r.browsers = {{"Google Chrome", false}};
       },
       R::Browser},
      {"another browser unticked", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.browsers = {{"Google Chrome", false}};
         d.user_agent = kEdge;
       },
       std::nullopt},
      {"brands name the browser", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.browsers = {{"Brave Browser", false}};
         d.brands = kBraveBrands;
       },
       R::Browser},
      {"no dot in the name", "https://h/archive", nothing, R::FileType},
      {"prefix type word", "https://h/archive.r07", nothing, std::nullopt},
      {"type not listed", "https://h/page.html", nothing, R::FileType},
      {"name from the url", "https://h/dl", nothing, R::FileType},
      {"filename wins over the url", "https://h/dl",
       [](CaptureRules&, Download& d) { d.filename = "setup.exe"; }, std::nullopt},
      {"empty type list", "https://h/file.zip",
       [](CaptureRules& r, Download&) { r.auto_types = ""; }, R::FileType},
      {"type beats site", "https://host.test/page.html",
       [](CaptureRules& r, Download&) { r.excluded_sites = "host.test"; }, R::FileType},
      {"excluded site", "https://www.h.example/file.zip",
       [](CaptureRules& r, Download&) { r.excluded_sites = "other *.h.example"; }, R::Site},
      {"default excluded sites", "https://download.windowsupdate.com/x/kb.msu", nothing, R::Site},
      {"site beats address", "https://host.test/file.zip",
       [](CaptureRules& r, Download&) {
         r.excluded_sites = "host.test";
         r.excluded_addresses = {"*"};
       },
       R::Site},
      {"excluded address", "https://h/dir/file.zip",
       [](CaptureRules& r, Download&) {
         r.excluded_addresses = {"nope", "h/dir/*"};
       },
       R::Address},
      {"address beats size", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.excluded_addresses = {"*.zip"};
         r.capture_min_kb = 1;
         d.size = 1;
       },
       R::Address},
      {"one byte below the threshold", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.capture_min_kb = 1;
         d.size = 1023;
       },
       R::Small},
      {"equal to the threshold", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.capture_min_kb = 1;
         d.size = 1024;
       },
       std::nullopt},
      {"zero size", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.capture_min_kb = 1;
         d.size = 0;
       },
       std::nullopt},
      {"absent size", "https://h/file.zip",
       [](CaptureRules& r, Download&) { r.capture_min_kb = 1; }, std::nullopt},
      {"threshold saturates", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.capture_min_kb = uint64_t{1} << 54;
         d.size = UINT64_MAX - 1;
       },
       R::Small},
      {"saturated threshold is not exceeded by the largest size", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.capture_min_kb = UINT64_MAX;
         d.size = UINT64_MAX;
       },
       std::nullopt},
      {"final address on an excluded site", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.excluded_sites = "mirror.example";
         d.final_url = "https://mirror.example/file.zip";
       },
       R::Site},
      {"size is tested before the final address", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.excluded_sites = "mirror.example";
         r.capture_min_kb = 1;
         d.size = 10;
         d.final_url = "https://mirror.example/file.zip";
       },
       R::Small},
      {"final address excluded", "https://h/file.zip",
       [](CaptureRules& r, Download& d) {
         r.excluded_addresses = {"mirror.example/*"};
         d.final_url = "https://mirror.example/file.zip";
       },
       R::Address},
      {"final address keeps the first file name", "https://h/file.zip",
       [](CaptureRules&, Download& d) { d.final_url = "https://mirror.example/token"; },
       std::nullopt},
  };
  for (const auto& c : cases) {
    CaptureRules rules;
    Download d = chrome_download(c.url);
    c.edit(rules, d);
    EXPECT_EQ(decide_download(d, rules), c.want) << c.name;
  }
}

TEST(VideoButtonShown, NeedsTheGateThePanelAndAnUnlistedSite) {
  const struct {
    const char* name;
    std::function<void(CaptureRules&)> edit;
    const char* page;
    const char* browser;
    bool want;
  } cases[] = {
      {"defaults", [](CaptureRules&) {}, "https://www.example.com/v", "Google Chrome", true},
      {"site listed", [](CaptureRules& r) { r.video_panel_sites = "a.test *.example.com"; },
       "https://www.example.com/v", "Google Chrome", false},
      {"other site listed", [](CaptureRules& r) { r.video_panel_sites = "*.example.com"; },
       "https://example.org/v", "Google Chrome", true},
      {"panel off", [](CaptureRules& r) { r.video_panel = false; }, "https://x/v", "Google Chrome",
       false},
      {"integration off", [](CaptureRules& r) { r.advanced_integration = false; }, "https://x/v",
       "Google Chrome", false},
      {"browser unticked",
       [](CaptureRules& r) {
         r.browsers = {{"Opera", false}};
       },
       "https://x.test/v", "Opera", false},
      // Excluded download sites do not hide the button.
      {"download site excluded", [](CaptureRules& r) { r.excluded_sites = "x.test"; },
       "https://x.test/v", "Opera", true},
  };
  for (const auto& c : cases) {
    CaptureRules rules;
    c.edit(rules);
    EXPECT_EQ(video_button_shown(rules, c.page, c.browser), c.want) << c.name;
  }
}

}  // namespace
}  // namespace nm::capture
