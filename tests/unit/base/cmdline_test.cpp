#include "base/cmdline.hpp"

#include <gtest/gtest.h>

namespace nm::base {
using Args = std::vector<std::string>;

TEST(CommandLine, SplitsByTheWindowsRulesAndQuotesRoundTrip) {
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
       {"prog", "chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/", "--parent-window=0"}}};
  for (const auto& [line, want] : cases) EXPECT_EQ(split_command_line(line), want) << line;

  const Args args = {"plain",   "",     "with space", "C:\\Program Files\\a b\\", "end\\\\",
                     "q\"uote", "\\\"", "tab\there",  "HKCU\\Software\\x"};
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
}  // namespace nm::base
