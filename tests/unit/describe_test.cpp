#include "nmhost/describe.hpp"

#include <gtest/gtest.h>

namespace nm::host {
namespace {

TEST(SanitizeText, CutsCodePointsAndBlanksControls) {
  const struct {
    std::string text;
    size_t n;
    std::string want;
  } cases[] = {
      {"a\nb\tc\x7f"
       "d\u0085e\u009F\u00A0~",
       100, "a b c d e \u00A0~"},
      {"ééééé", 3, "ééé"},  // code points, not bytes
      {"", 5, ""},
      // One U+FFFD per invalid sequence, counted as one character.
      {"A\xE2\x82"
       "B\xF0\x9F\x98"
       "C\xFF",
       9, "A\uFFFDB\uFFFDC\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(sanitize_text(c.text, c.n), c.want) << c.text;
}

// The browser, a private window, and a site and name both given are shown
// end to end; these are the other shapes.
TEST(DescribeDownload, WhoAndWhat) {
  const struct {
    std::string site, name, want;
  } cases[] = {
      {"", "f.zip", "Opera keeps f.zip: EXPL"},
      {"example.com", "   ", "Opera keeps a download from example.com: EXPL"},
      {"s\nite", "a\tb", "Opera keeps a b from s ite: EXPL"},
      {"", std::string(300, 'n'), "Opera keeps " + std::string(200, 'n') + ": EXPL"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(describe_download("Opera", c.site, c.name, "EXPL", false),
              "browser integration: " + c.want)
        << c.name;
}

}  // namespace
}  // namespace nm::host
