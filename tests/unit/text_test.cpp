#include <gtest/gtest.h>

#include "base/cmdline.hpp"
#include "base/text.hpp"

namespace nm {
namespace {

// Decoding and encoding again gives the text back when it is valid, and one
// U+FFFD per invalid sequence otherwise.
TEST(Utf8, RoundTripsAtEveryBoundaryAndReplacesInvalidSequences) {
  for (const std::string valid :
       {"\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEF\xBF\xBD",
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
      {"a\xE2\x82!\xF5", "a\uFFFD!\uFFFD"},
  };
  for (const auto& [bytes, want] : invalid) {
    EXPECT_FALSE(is_valid_utf8(bytes)) << bytes;
    EXPECT_EQ(utf8_lossy(bytes), want) << bytes;
  }
}

TEST(UnicodeSpace, IsTheWhiteSpaceProperty) {
  for (char32_t c : {0x09, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028, 0x2029, 0x202F,
                     0x205F, 0x3000})
    EXPECT_TRUE(is_unicode_space(c)) << static_cast<unsigned>(c);
  for (char32_t c :
       {0x08, 0x0E, 0x1F, 0x84, 0xA1, 0x1FFF, 0x200B, 0x2027, 0x202A, 0x205E, 0x3001, 0xFEFF})
    EXPECT_FALSE(is_unicode_space(c)) << static_cast<unsigned>(c);
  EXPECT_EQ(trim_unicode("\u3000 a\u200Bb\u00A0\u2028"), "a\u200Bb");
}

TEST(AsciiCase, OnlyLettersChange) {
  EXPECT_EQ(ascii_lower("@AZ[`az{\u00C9"), "@az[`az{\u00C9");
  EXPECT_EQ(ascii_upper("@AZ[`az{\u00E9"), "@AZ[`AZ{\u00E9");
  const std::tuple<std::string_view, std::string_view, bool> cases[] = {
      {"AZaz", "azAZ", true},
      {"@[", "`{", false},
      {"a", "ab", false},
      {std::string_view("aX", 1), std::string_view("aY", 1), true},  // only the view's bytes
  };
  for (const auto& [a, b, want] : cases) EXPECT_EQ(iequals_ascii(a, b), want) << a << " " << b;
}

TEST(QuoteDebug, EscapesQuotesAndEveryControl) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\"\\\t\r\n", R"("a\"\\\t\r\n")"},
      {std::string("\0\x01\x1F\x7F ~", 6), R"("\0\u{1}\u{1f}\u{7f} ~")"},
      {"\u0080\u009F\u00A0\xFF", "\"\\u{80}\\u{9f}\u00A0\uFFFD\""},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(quote_debug(text), want);
  EXPECT_EQ(quote_debug_list({"a", "b"}), R"(["a", "b"])");
}

using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  const std::pair<const char*, Args> cases[] = {
      {"", {}},
      {"prog", {"prog"}},
      {"prog a b", {"prog", "a", "b"}},
      {"prog  \t a\t\tb  ", {"prog", "a", "b"}},
      {"\"C:\\Program Files\\x\\nmhost.exe\" arg", {"C:\\Program Files\\x\\nmhost.exe", "arg"}},
      // The program name keeps its backslashes and knows no escapes.
      {"\"C:\\dir\\\" b", {"C:\\dir\\", "b"}},
      {"prog \"a b\" c", {"prog", "a b", "c"}},
      {"prog a\\\\b", {"prog", "a\\\\b"}},
      {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},
      {"prog a\\\"b", {"prog", "a\"b"}},
      {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},
      {"prog \"\"", {"prog", ""}},
      {"prog \"a\"\"b\"", {"prog", "a\"b"}},
      {"prog \"a\"\"", {"prog", "a\""}},  // a doubled quote at the very end
      {"prog a\"\"b", {"prog", "ab"}},    // outside quotes, "" is an empty pair
      {"prog \"unterminated arg", {"prog", "unterminated arg"}},
      {"prog chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/ --parent-window=0",
       {"prog", "chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/", "--parent-window=0"}},
  };
  for (const auto& [line, want] : cases) EXPECT_EQ(split_command_line(line), want) << line;
}

TEST(QuoteArgument, RoundTripsThroughTheSplitter) {
  const Args args = {
      "plain",
      "",
      "with space",
      "C:\\Program Files\\a b\\",
      "end\\\\",
      "q\"uote",
      "\\\"",
      "tab\there",
      "HKCU\\Software\\Mozilla\\NativeMessagingHosts\\com.qartorvaneldownloadmanager.host"};
  // The host's folder, where reg.exe is looked for first, may hold spaces.
  const auto line = join_command_line("C:\\Program Files\\QAR\\reg.exe", args);
  auto back = split_command_line(line);
  ASSERT_FALSE(back.empty());
  EXPECT_EQ(back[0], "C:\\Program Files\\QAR\\reg.exe");
  back.erase(back.begin());
  EXPECT_EQ(back, args);
  EXPECT_EQ(quote_argument("plain"), "plain");
  EXPECT_EQ(quote_argument("a b\\"), "\"a b\\\\\"");
}

}  // namespace
}  // namespace nm
