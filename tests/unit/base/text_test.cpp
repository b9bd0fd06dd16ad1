#include "base/text.hpp"

#include <gtest/gtest.h>

namespace nm::base {
// Decoding and encoding gives valid text back, else one U+FFFD per bad sequence.
TEST(Text, Utf8UnicodeWhiteSpaceAsciiCaseAndDebugQuotes) {
  for (const std::string valid :
       {"\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "~\xEF\xBF\xBD",
        "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
    EXPECT_TRUE(is_valid_utf8(valid)) << valid;
    EXPECT_EQ(utf8_lossy(valid), valid);
  }
  const std::pair<std::string, std::string> invalid[] = {
      {"\xC1\xBF", "\uFFFD\uFFFD"},                      // overlong
      {"\xE0\x9F\xBF", "\uFFFD\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},            // surrogate
      {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xF0\x8F\xBF\xBF", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // overlong
      {"\xEF\xBF", "\uFFFD"},                            // cut short
      {"~\u00E9\x80", "~\u00E9\uFFFD"},                  // a lone continuation byte
      {"a\xE2\x82!\xF0\x9F\x98?\xF5", "a\uFFFD!\uFFFD?\uFFFD"}};
  for (const auto& [bytes, want] : invalid) {
    EXPECT_FALSE(is_valid_utf8(bytes)) << bytes;
    EXPECT_EQ(utf8_lossy(bytes), want) << bytes;
  }

  for (char32_t c : {0x09, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028, 0x2029, 0x202F,
                     0x205F, 0x3000})
    EXPECT_TRUE(is_unicode_space(c)) << static_cast<unsigned>(c);
  for (char32_t c :
       {0x08, 0x0E, 0x1F, 0x84, 0xA1, 0x1FFF, 0x200B, 0x2027, 0x202A, 0x205E, 0x3001, 0xFEFF})
    EXPECT_FALSE(is_unicode_space(c)) << static_cast<unsigned>(c);

  EXPECT_EQ(ascii_lower("@AZ[`az{\u00C9"), "@az[`az{\u00C9");
  EXPECT_EQ(ascii_upper("@AZ[`az{\u00E9"), "@AZ[`AZ{\u00E9");
  const std::tuple<std::string_view, std::string_view, bool> cases[] = {
      {"AZaz", "azAZ", true},
      {"@[", "`{", false},
      {"a", "ab", false},
      {std::string_view("aX", 1), std::string_view("aY", 1), true},  // only the view's bytes
  };
  for (const auto& [a, b, want] : cases) EXPECT_EQ(iequals_ascii(a, b), want) << a << " " << b;

  const std::pair<std::string, std::string> quoted[] = {
      {"a\"\\\t\r\n", R"("a\"\\\t\r\n")"},
      {std::string("\0\x01\x1F\x7F ~", 6), R"("\0\u{1}\u{1f}\u{7f} ~")"},
      {"\u0080\u009F\u00A0\xFF", "\"\\u{80}\\u{9f}\u00A0\uFFFD\""}};
  for (const auto& [text, want] : quoted) EXPECT_EQ(quote_debug(text), want);
}
}  // namespace nm::base
