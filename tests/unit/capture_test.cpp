#include <gtest/gtest.h>

#include <tuple>

#include "capture/decision.hpp"
#include "capture/patterns.hpp"
#include "capture/settings.hpp"
#include "support/fixtures.hpp"

namespace nm::capture {
namespace {

TEST(Patterns, WordsHostsSitesAddressesTypesAndFileNames) {
  // A zero width space and an invalid byte do not separate.
  EXPECT_EQ(split_words(" ZIP\t 7Z\u00a0B\u3000C\u2028D\u0085E\u200bF G\xff\n"),
            (std::vector<std::string>{"ZIP", "7Z", "B", "C", "D", "E\u200bF", "G\xff"}));

  const std::pair<const char*, const char*> cases[] = {
      {"https://Example.COM:8443/a/b?c#d", "example.com"},
      {"http://[::1]:8080/x", "::1"},
      {"https://user:p@ss@Host.test:21/", "host.test"},
      {"https://[fe80::1", "fe80::1"},
      {"https://a.test/go?to=https://b.test/", "a.test"},
      {"example.com/x", "example.com"},
      {"HTTPS://\u00c9X.com", "\u00c9x.com"},
      {"https://h?x=a/b", "h"},
      {"", ""},
  };
  for (const auto& [url, host] : cases) EXPECT_EQ(host_of(url), host) << url;

  // Sites: *. covers the domain too; addresses: * is any run; types: trailing * prefix.
  using Match = bool (*)(std::string_view, std::string_view);
  const std::tuple<Match, const char*, const char*, bool> matches[] = {
      {site_matches, "example.com", "*.example.com", true},
      {site_matches, "a.b.example.com", "*.EXAMPLE.com", true},
      {site_matches, "badexample.com", "*.example.com", false},
      {site_matches, "www.example.com", "example.com", false},
      {site_matches, "example.com", "  HTTPS://Example.com/path ", true},
      {site_matches, "", "*.", true},
      {site_matches, "example.com", "example.com:443", false},
      {site_matches, "example.com", "ex*.com", false},
      {site_matches, "\u00e9x.com", "\u00c9x.com", false},
      {address_matches, "https://cdn.example.com/files/a.zip", "*.example.com/files/*", true},
      {address_matches, "http://Example.com/setup.EXE", "example.com/*.exe", true},
      {address_matches, "https://www.example.com/setup.exe", "example.com/*.exe", false},
      {address_matches, "http://example.com/a", "https://example.com/*", false},
      {address_matches, "", "*", true},
      {address_matches, "https://a.b/x?y", "a.b/x", false},
      {address_matches, "https://a.b/1/2?q=3", "a.b*q=3", true},
      {address_matches, "https://a.b/x", "a.b/**x*", true},
      {address_matches, "https://aba", "ab*ba", false},
      {address_matches, "https://a.b/x-y.zip", "*-*-*.zip", false},
      {address_matches, "https://a.b/c/d/c/e", "a.b/*c/*/e", true},
      {type_matches, "zip", "ZIP", true},
      {type_matches, "zipx", "ZIP", false},
      {type_matches, "R0", "R0*", true},
      {type_matches, "r0any", "R0*", true},
      {type_matches, "R1", "R0*", false},
      {type_matches, "gz", "G*Z", false},
      {type_matches, "G*Z", "g*z", true},
      {type_matches, "", "*", true},
      {type_matches, "", "ZIP", false},
      {type_matches, "\u00e9", "\u00c9", false},
  };
  for (const auto& [match, text, pattern, want] : matches)
    EXPECT_EQ(match(text, pattern), want) << text << " ~ " << pattern;

  const std::tuple<std::optional<std::string>, const char*, const char*> names[] = {
      {"a/b.zip", "https://h/x", "b.zip"},
      {"dir\\", "https://h/p/u.zip", "u.zip"},
      {std::nullopt, "https://h/p/file.iso?x=1#y", "file.iso"},
      {std::nullopt, "https://h/p/file.iso#y/z", "file.iso"},
      {std::nullopt, "https://h/dir/", ""},
      {std::nullopt, "https://example.com?a=/b", "example.com"},
  };
  for (const auto& [filename, url, want] : names)
    EXPECT_EQ(file_name_of(filename, url), want) << url;

  // The end-to-end links show http, ftp, data: and javascript: addresses.
  for (const char* url : {"FtpS://x", "ftpes://x"}) EXPECT_TRUE(is_transfer_scheme(url)) << url;
  for (const char* url : {"blob:https://x", "sftp://x", "https:x", ""})
    EXPECT_FALSE(is_transfer_scheme(url)) << url;
}

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
      {"https://h/a.zip", std::nullopt, {}, 0, {}, {}, "https://m.test/token"},
  };
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

TEST(CaptureRules, WholeFileRejectedOldTypesUpgradedNotWrittenBack) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"settings":null})", "expected struct CaptureRules"},
      {R"({"settings":{"browsers":[["Google Chrome"]]}})",
       "invalid length 1, expected a tuple of size 2 at line 1 column 42"},
      {R"({"settings":{"browsers":[["Google Chrome",1]]}})",
       "invalid type: integer `1`, expected a boolean at line 1 column 43"},
      {R"({"settings":{"browsers":[["Google Chrome",false,true]]}})", "trailing"},
      {R"({"settings":{"browsers":{"Google Chrome":false}}})", "invalid type: map"},
      {R"({"settings":{"excluded_addresses":["a",1]}})", "invalid type: integer `1`"},
      {R"({"settings":{"capture_min_kb":1E+99999999999}})",
       "number out of range at line 1 column 44"},
      // Objects only: the array form belongs to messages and ipc.json.
      {R"({"settings":[false]})",
       "invalid type: sequence, expected struct CaptureRules at line 1 column 12"},
      {R"([{"advanced_integration":false}])",
       "invalid type: sequence, expected struct Stored at line 1 column 0"},
  };
  for (const auto& [json, error] : cases) {
    const auto got = read_capture_rules(json);
    ASSERT_FALSE(got.ok()) << json;
    EXPECT_NE(got.error().find(error), std::string::npos) << json << ": " << got.error();
  }

  const auto types_after_reading = [](std::string_view types) {
    return read_capture_rules(R"({"settings":{"auto_types":")" + std::string(types) + "\"}}")
        .value()
        .auto_types;
  };
  for (std::string_view legacy : kLegacyAutoTypes)
    EXPECT_EQ(types_after_reading(legacy), kDefaultAutoTypes) << legacy;
  // Lower-cased, reversed, each word twice, runs of white space.
  std::string shuffled;
  const auto words = split_words(kLegacyAutoTypes[0]);
  for (auto it = words.rbegin(); it != words.rend(); ++it) shuffled += *it + "  \\t " + *it + " ";
  for (char& c : shuffled) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(types_after_reading(shuffled), kDefaultAutoTypes);

  const std::string added = std::string(kLegacyAutoTypes[0]) + " DOCX";
  EXPECT_EQ(types_after_reading(added), added);
  const std::string removed(kLegacyAutoTypes[0].substr(0, kLegacyAutoTypes[0].rfind(' ')));
  EXPECT_EQ(types_after_reading(removed), removed);

  // An upgraded file is not written back (every field is read end to end).
  EXPECT_EQ(read_capture_rules(" \r\n{}\n").value(), CaptureRules::defaults());
  // Unknown keys are skipped whatever their number, even beyond a double.
  EXPECT_EQ(read_capture_rules(R"({"x":1e400,"settings":{"y":-1e-2147483648,"capture_min_kb":5}})")
                ->capture_min_kb,
            5u);
  EXPECT_EQ(read_capture_rules(R"({"settings":{}})").value(), CaptureRules::defaults());
  EXPECT_EQ(load_capture_rules(std::nullopt), CaptureRules::defaults());
  TempFolder tmp;
  const std::string legacy = R"({"settings":{"capture_min_kb":3,"auto_types":")" +
                             std::string(kLegacyAutoTypes[2]) + "\"}}";
  ASSERT_TRUE(os::write_file(tmp / "downloads.json", legacy));
  const CaptureRules got = load_capture_rules(tmp.path());
  EXPECT_EQ(got.capture_min_kb, 3u);
  EXPECT_EQ(got.auto_types, kDefaultAutoTypes);
  EXPECT_EQ(os::read_file(tmp / "downloads.json").value(), legacy);
}

}  // namespace
}  // namespace nm::capture
