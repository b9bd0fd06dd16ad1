#include "ipc/capture/settings.hpp"

#include <gtest/gtest.h>

#include "ipc/capture/patterns.hpp"
#include "platform/fs.hpp"
#include "temp_folder.hpp"

namespace nm::capture {
namespace {

TEST(CaptureDefaults, AreTheShippedLists) {
  EXPECT_EQ(split_words(kDefaultAutoTypes).size(), 291u);
  EXPECT_EQ(kDefaultAutoTypes.size(), 1323u);
  // Update service (wildcard, plain download host, wildcard over that host),
  // a site-seal host, a plain host, a wildcard; single spaces.
  const auto sites = split_words(kDefaultExcludedSites);
  ASSERT_EQ(sites.size(), 6u);
  EXPECT_EQ(kDefaultExcludedSites.size(), 131u);
  EXPECT_EQ(kDefaultExcludedSites.find("  "), std::string_view::npos);
  const bool wildcard[] = {true, false, true, false, false, true};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(sites[i].starts_with("*."), wildcard[i]) << sites[i];
  EXPECT_EQ(sites[2], "*." + sites[1]);
  const size_t legacy_words[] = {53, 54, 71};
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(split_words(LEGACY_AUTO_TYPES[i]).size(), legacy_words[i]);
}

TEST(ReadCaptureRules, UsesValidFilesAndDefaultsTheRest) {
  EXPECT_EQ(read_capture_rules(" \r\n{}\n").value(), CaptureRules::defaults());
  EXPECT_EQ(read_capture_rules(R"({"settings":{}})").value(), CaptureRules::defaults());

  CaptureRules want;
  want.capture_min_kb = 2048;
  EXPECT_EQ(read_capture_rules(R"({"settings":{"capture_min_kb":2048}})").value(), want);

  const auto full = read_capture_rules(R"({"x":[1,{"y":null}],"settings":{
      "advanced_integration":false,"browsers":[["Google Chrome",false],["Mozilla Firefox",true]],
      "auto_types":"","excluded_sites":"a.test","excluded_addresses":["a.b/*","*.exe"],
      "unknown":{"a":[]},"video_panel":false,"video_panel_sites":"*.v.test",
      "capture_opened":false,"capture_min_kb":18446744073709551615}})");
  ASSERT_TRUE(full.ok()) << full.error();
  const CaptureRules expected{false,
                              {{"Google Chrome", false}, {"Mozilla Firefox", true}},
                              "",
                              "a.test",
                              {"a.b/*", "*.exe"},
                              false,
                              "*.v.test",
                              false,
                              UINT64_MAX};
  EXPECT_EQ(*full, expected);
}

TEST(ReadCaptureRules, RejectsTheWholeFileForOneFault) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"settings":{"video_panel":false,"capture_min_kb":-1}})",
       "invalid value: integer `-1`, expected u64 at line 1 column 52"},
      {R"({"settings":{"video_panel":false,"capture_min_kb":1.5}})", "expected u64"},
      {R"({"settings":{"capture_min_kb":18446744073709551616}})", "expected u64"},
      {R"({"settings":{"capture_min_kb":2048,"video_panel":null}})", "expected a boolean"},
      {R"({"settings":null})", "expected struct CaptureRules"},
      {R"({"settings":{"browsers":[["Google Chrome"]]}})", "expected a tuple of size 2"},
      {R"({"settings":{"browsers":[["Google Chrome",false,true]]}})", "trailing"},
      {R"({"settings":{"browsers":{"Google Chrome":false}}})", "invalid type: map"},
      {R"({"settings":{"browsers":[],"browsers":[]}})", "duplicate field `browsers`"},
      {R"({"settings":{"excluded_addresses":["a",1]}})", "invalid type: integer `1`"},
      {R"({"settings":{}} x)", "trailing characters"},
      // Objects only: the array form belongs to messages and ipc.json.
      {R"({"settings":[false]})",
       "invalid type: sequence, expected struct CaptureRules at line 1 column 12"},
      {R"([{"advanced_integration":false}])",
       "invalid type: sequence, expected struct Stored at line 1 column 0"},
      {"", "EOF"},
  };
  for (const auto& [json, error] : cases) {
    const auto got = read_capture_rules(json);
    ASSERT_FALSE(got.ok()) << json;
    EXPECT_NE(got.error().find(error), std::string::npos) << json << ": " << got.error();
  }
}

TEST(ReadCaptureRules, UpgradesAnOldDefaultTypeList) {
  const auto types_after_reading = [](std::string_view types) {
    return read_capture_rules(R"({"settings":{"auto_types":")" + std::string(types) + "\"}}")
        .value()
        .auto_types;
  };
  for (std::string_view legacy : LEGACY_AUTO_TYPES)
    EXPECT_EQ(types_after_reading(legacy), kDefaultAutoTypes) << legacy;
  // Lower-cased, reversed, each word twice, runs of white space.
  std::string shuffled;
  const auto words = split_words(LEGACY_AUTO_TYPES[0]);
  for (auto it = words.rbegin(); it != words.rend(); ++it) shuffled += *it + "  \\t " + *it + " ";
  for (char& c : shuffled) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(types_after_reading(shuffled), kDefaultAutoTypes);

  const std::string added = std::string(LEGACY_AUTO_TYPES[0]) + " DOCX";
  EXPECT_EQ(types_after_reading(added), added);
  const std::string removed(LEGACY_AUTO_TYPES[0].substr(0, LEGACY_AUTO_TYPES[0].rfind(' ')));
  EXPECT_EQ(types_after_reading(removed), removed);
}

TEST(LoadCaptureRules, FallsBackToTheDefaults) {
  EXPECT_EQ(load_capture_rules(std::nullopt), CaptureRules::defaults());
  TempFolder tmp;
  EXPECT_EQ(load_capture_rules(tmp.path()), CaptureRules::defaults());
  ASSERT_TRUE(os::write_file(tmp / "downloads.json", R"({"settings":{"capture_min_kb":3},})"));
  EXPECT_EQ(load_capture_rules(tmp.path()), CaptureRules::defaults());
  // The upgrade is not written back.
  const std::string legacy = R"({"settings":{"capture_min_kb":3,"auto_types":")" +
                             std::string(LEGACY_AUTO_TYPES[2]) + "\"}}";
  ASSERT_TRUE(os::write_file(tmp / "downloads.json", legacy));
  const CaptureRules got = load_capture_rules(tmp.path());
  EXPECT_EQ(got.capture_min_kb, 3u);
  EXPECT_EQ(got.auto_types, kDefaultAutoTypes);
  EXPECT_EQ(os::read_file(tmp / "downloads.json").value(), legacy);
}

}  // namespace
}  // namespace nm::capture
