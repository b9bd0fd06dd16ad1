#include "host/describe.hpp"

#include <gtest/gtest.h>
#include <tuple>

namespace nm::host {
TEST(SanitizeText, ControlsBecomeSpacesCutAtCharacters) {
  const std::tuple<std::string, size_t, std::string> texts[] = {
      {"a\nb\tc\x7f"
       "d\u0085e\u009F\u00A0~\xFF",
       100, "a b c d e \u00A0~\uFFFD"},
      {"ééééé", 3, "ééé"},  // code points, not bytes
      // Line breaks and direction controls are spaces too; their neighbours stay.
      {"invoice\u202Efdp.exe\u2028\u2029\u202A\u2066\u2069\u061C\u200E\u200F", 100,
       "invoice fdp.exe        "},
      {"\u2027\u202F\u2065\u206A\u200D\u2030", 100, "\u2027\u202F\u2065\u206A\u200D\u2030"}};
  for (const auto& [text, n, want] : texts) EXPECT_EQ(sanitize_text(text, n), want) << text;
}

TEST(DescribeDownload, ShapesOfTheLogLine) {
  // The shapes the end-to-end log lines do not show.
  const std::tuple<std::string, std::string, std::string> shapes[] = {
      {"", "f.zip", "Opera keeps f.zip: w"},
      {std::string(300, 's'), " ", "Opera keeps a download from " + std::string(200, 's') + ": w"},
      {"s\nite", "a\tb", "Opera keeps a b from s ite: w"},
      {"", std::string(300, 'n'), "Opera keeps " + std::string(200, 'n') + ": w"}};
  for (const auto& [site, name, want] : shapes)
    EXPECT_EQ(describe_download("Opera", site, name, "w", false), "browser integration: " + want)
        << name;
}
}  // namespace nm::host
