#include "capture/settings.hpp"

#include <gtest/gtest.h>

#include "capture/patterns.hpp"
#include "support/fixtures.hpp"

namespace nm::capture {
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
      // Objects only: the array form belongs to messages and ipc.json.
      {R"([{"advanced_integration":false}])",
       "invalid type: sequence, expected struct Stored at line 1 column 0"}};
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
}  // namespace nm::capture
