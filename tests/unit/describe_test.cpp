#include "nmhost/describe.hpp"

#include <gtest/gtest.h>

namespace nm::host {
namespace {

TEST(SanitizeText, CutsCodePointsAndBlanksControls) {
  EXPECT_EQ(sanitize_text("a\nb\tc\x7f"
                          "d\u0085e",
                          100),
            "a b c d e");
  EXPECT_EQ(sanitize_text("ééééé", 3), "ééé");  // code points, not bytes
  EXPECT_EQ(sanitize_text("日本語テキスト", 2), "日本");
  EXPECT_EQ(sanitize_text("short", 32), "short");
  EXPECT_EQ(sanitize_text("", 5), "");
  // One U+FFFD per invalid sequence, counted as one character.
  EXPECT_EQ(sanitize_text("A\xE2\x82"
                          "B\xF0\x9F\x98"
                          "C\xFF",
                          9),
            "A\uFFFDB\uFFFDC\uFFFD");
  EXPECT_EQ(sanitize_text("\xED\xA0\x80\xC0\xAF", 9), "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
  const std::string why = "not a wire word\nand then some more text here";
  EXPECT_EQ(sanitize_text(why, 32), "not a wire word and then some mo");
}

TEST(DescribeDownload, WhoAndWhat) {
  const std::string e = "EXPL";
  const struct {
    std::string browser, site, name;
    bool priv;
    std::string want;
  } cases[] = {
      {"Mozilla Firefox", "example.com", "f.zip", false,
       "browser integration: Mozilla Firefox keeps f.zip from example.com: EXPL"},
      {"", "example.com", "f.zip", false,
       "browser integration: a browser keeps f.zip from example.com: EXPL"},
      {"Opera", "", "f.zip", false, "browser integration: Opera keeps f.zip: EXPL"},
      {"Opera", "example.com", "   ", false,
       "browser integration: Opera keeps a download from example.com: EXPL"},
      {"Opera", " ", "", false, "browser integration: Opera keeps a download: EXPL"},
      {"Opera", "example.com", "f.zip", true,
       "browser integration: Opera keeps a download from a private window: EXPL"},
      {"Opera", "s\nite", "a\tb", false, "browser integration: Opera keeps a b from s ite: EXPL"},
      {"Opera", "", std::string(300, 'n'), false,
       "browser integration: Opera keeps " + std::string(200, 'n') + ": EXPL"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(describe_download(c.browser, c.site, c.name, e, c.priv), c.want) << c.name;
}

}  // namespace
}  // namespace nm::host
