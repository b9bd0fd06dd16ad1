#include "ipc/capture/settings.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "ipc/capture/patterns.hpp"
#include "platform/fs.hpp"
#include "temp_folder.hpp"

namespace nm::capture {
namespace {

TEST(CaptureDefaults, AreTheShippedLists) {
  EXPECT_EQ(split_words(DEFAULT_AUTO_TYPES).size(), 291u);
  EXPECT_EQ(DEFAULT_AUTO_TYPES.size(), 1323u);
  EXPECT_EQ(DEFAULT_AUTO_TYPES.find("  "), std::string_view::npos);

  // Update service (wildcard, plain download host, wildcard over that same
  // host), a site-seal host, a plain host, a wildcard.
  const auto sites = split_words(DEFAULT_EXCLUDED_SITES);
  ASSERT_EQ(sites.size(), 6u);
  EXPECT_EQ(DEFAULT_EXCLUDED_SITES.size(), 131u);
  EXPECT_EQ(DEFAULT_EXCLUDED_SITES.find("  "), std::string_view::npos);
  const bool wildcard[] = {true, false, true, false, false, true};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(sites[i].starts_with("*."), wildcard[i]) << sites[i];
    EXPECT_EQ(sites[i].find_first_of("/:"), std::string::npos) << sites[i];
  }
  EXPECT_EQ(sites[2], "*." + sites[1]);

  const size_t legacy_words[] = {53, 54, 71};
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(split_words(LEGACY_AUTO_TYPES[i]).size(), legacy_words[i]);

  const CaptureRules d = CaptureRules::defaults();
  EXPECT_TRUE(d.advanced_integration);
  EXPECT_TRUE(d.browsers.empty());
  EXPECT_EQ(d.auto_types, DEFAULT_AUTO_TYPES);
  EXPECT_EQ(d.excluded_sites, DEFAULT_EXCLUDED_SITES);
  EXPECT_TRUE(d.excluded_addresses.empty());
  EXPECT_TRUE(d.video_panel);
  EXPECT_EQ(d.video_panel_sites, "");
  EXPECT_TRUE(d.capture_opened);
  EXPECT_EQ(d.capture_min_kb, 0u);
}

TEST(ReadCaptureRules, UsesEveryValidFile) {
  using Edit = std::function<void(CaptureRules&)>;
  const struct {
    const char* json;
    Edit want;
  } cases[] = {
      {"{}", [](CaptureRules&) {}},
      {" \r\n\t{\"settings\": {}} \n", [](CaptureRules&) {}},
      {R"({"settings":{"capture_min_kb":2048}})", [](CaptureRules& r) { r.capture_min_kb = 2048; }},
      {R"({"settings":{"capture_min_kb":18446744073709551615}})",
       [](CaptureRules& r) { r.capture_min_kb = UINT64_MAX; }},
      {R"({"other":[1,{"x":null}],"settings":{"video_panel":false,"unknown":{"a":[]}},"more":1})",
       [](CaptureRules& r) { r.video_panel = false; }},
      {R"({"settings":{"browsers":[["Google Chrome",false],["Mozilla Firefox",true]]}})",
       [](CaptureRules& r) {
         r.browsers = {{"Google Chrome", false}, {"Mozilla Firefox", true}};
       }},
      {R"({"settings":{"advanced_integration":false,"browsers":[],"auto_types":"ZIP",
          "excluded_sites":"","excluded_addresses":["a.b/*","*.exe"],"video_panel":false,
          "video_panel_sites":"*.v.test","capture_opened":false,"capture_min_kb":7}})",
       [](CaptureRules& r) {
         r.advanced_integration = false;
         r.auto_types = "ZIP";
         r.excluded_sites = "";
         r.excluded_addresses = {"a.b/*", "*.exe"};
         r.video_panel = false;
         r.video_panel_sites = "*.v.test";
         r.capture_opened = false;
         r.capture_min_kb = 7;
       }},
      // An empty type list is the user's choice, not a missing one.
      {R"({"settings":{"auto_types":""}})", [](CaptureRules& r) { r.auto_types = ""; }},
  };
  for (const auto& c : cases) {
    CaptureRules want;
    c.want(want);
    const auto got = read_capture_rules(c.json);
    ASSERT_TRUE(got.ok()) << c.json << ": " << got.error();
    EXPECT_EQ(*got, want) << c.json;
  }
}

TEST(ReadCaptureRules, RejectsTheWholeFileForOneFault) {
  const struct {
    const char* json;
    const char* error_part;
  } cases[] = {
      {R"({"settings":{"video_panel":false,"capture_min_kb":-1}})",
       "invalid value: integer `-1`, expected u64 at line 1 column 52"},
      {R"({"settings":{"video_panel":false,"capture_min_kb":1.5}})",
       "invalid type: floating point `1.5`, expected u64"},
      {R"({"settings":{"capture_min_kb":"10"}})", "expected u64"},
      {R"({"settings":{"capture_min_kb":18446744073709551616}})", "expected u64"},
      {R"({"settings":{"capture_min_kb":1e3}})", "expected u64"},
      {R"({"settings":{"capture_min_kb":2048,"video_panel":null}})",
       "invalid type: null, expected a boolean"},
      {R"({"settings":{"auto_types":null}})", "invalid type: null"},
      {R"({"settings":null})", "invalid type: null, expected struct CaptureRules"},
      {R"({"settings":{"advanced_integration":1}})", "invalid type"},
      {R"({"settings":{"browsers":[["Google Chrome"]]}})",
       "invalid length 1, expected a tuple of size 2"},
      {R"({"settings":{"browsers":[["Google Chrome",false,true]]}})", "trailing"},
      {R"({"settings":{"browsers":[["Google Chrome","false"]]}})", "invalid type"},
      {R"({"settings":{"browsers":{"Google Chrome":false}}})", "invalid type"},
      {R"({"settings":{"browsers":[],"browsers":[]}})", "duplicate field `browsers`"},
      {R"({"settings":{},"settings":{}})", "duplicate field `settings`"},
      {R"({"settings":{"excluded_addresses":"a.b"}})", "invalid type"},
      {R"({"settings":{"excluded_addresses":["a",1]}})", "invalid type"},
      {R"({"settings":{}} x)", "trailing"},
      {R"({"settings":{}}{})", "trailing"},
      {R"({"settings":{})", "EOF"},
      {"", "EOF"},
      {"null", "invalid type: null, expected struct Stored"},
      {"\"settings\"", "invalid type"},
      {"{\"settings\":{\"auto_types\":\"ZIP\xff\"}}", "invalid unicode"},
  };
  for (const auto& c : cases) {
    const auto got = read_capture_rules(c.json);
    ASSERT_FALSE(got.ok()) << c.json;
    EXPECT_NE(got.error().find(c.error_part), std::string::npos) << c.json << ": " << got.error();
    EXPECT_NE(got.error().find(" at line "), std::string::npos) << got.error();
  }
}

TEST(ReadCaptureRules, UpgradesAnOldDefaultTypeList) {
  const auto rules_with_types = [](std::string_view types) {
    std::string json = R"({"settings":{"auto_types":")";
    json += types;
    json += "\"}}";
    return read_capture_rules(json);
  };
  for (std::string_view legacy : LEGACY_AUTO_TYPES) {
    const auto got = rules_with_types(legacy);
    ASSERT_TRUE(got.ok()) << got.error();
    EXPECT_EQ(got->auto_types, DEFAULT_AUTO_TYPES) << legacy;
  }
  // The first list, lower-cased, reordered, with repeats and runs of spaces.
  std::string shuffled;
  const auto words = split_words(LEGACY_AUTO_TYPES[0]);
  for (auto it = words.rbegin(); it != words.rend(); ++it) shuffled += *it + "  \\t " + *it + " ";
  for (char& c : shuffled)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  EXPECT_EQ(rules_with_types(shuffled)->auto_types, DEFAULT_AUTO_TYPES);

  const std::string added = std::string(LEGACY_AUTO_TYPES[0]) + " DOCX";
  EXPECT_EQ(rules_with_types(added)->auto_types, added);
  const std::string removed(LEGACY_AUTO_TYPES[0].substr(0, LEGACY_AUTO_TYPES[0].rfind(' ')));
  EXPECT_EQ(rules_with_types(removed)->auto_types, removed);
  EXPECT_EQ(rules_with_types("")->auto_types, "");
}

TEST(LoadCaptureRules, FallsBackToTheDefaults) {
  EXPECT_EQ(load_capture_rules(std::nullopt), CaptureRules::defaults());

  TempFolder tmp;
  EXPECT_EQ(load_capture_rules(tmp.path()), CaptureRules::defaults());
  EXPECT_EQ(load_capture_rules(tmp / "missing"), CaptureRules::defaults());

  ASSERT_TRUE(os::write_file(tmp / "downloads.json", R"({"settings":{"capture_min_kb":3}})"));
  EXPECT_EQ(load_capture_rules(tmp.path()).capture_min_kb, 3u);

  ASSERT_TRUE(os::write_file(tmp / "downloads.json", R"({"settings":{"capture_min_kb":3},})"));
  EXPECT_EQ(load_capture_rules(tmp.path()), CaptureRules::defaults());

  // The file is never rewritten, not even for the upgrade.
  const std::string legacy =
      R"({"settings":{"auto_types":")" + std::string(LEGACY_AUTO_TYPES[2]) + "\"}}";
  ASSERT_TRUE(os::write_file(tmp / "downloads.json", legacy));
  EXPECT_EQ(load_capture_rules(tmp.path()).auto_types, DEFAULT_AUTO_TYPES);
  EXPECT_EQ(os::read_file(tmp / "downloads.json").value(), legacy);

  TempFolder other;
  std::filesystem::create_directory(other / "downloads.json");
  EXPECT_EQ(load_capture_rules(other.path()), CaptureRules::defaults());
}

}  // namespace
}  // namespace nm::capture
