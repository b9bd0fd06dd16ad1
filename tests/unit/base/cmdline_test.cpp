#include "base/cmdline.hpp"

#include <gtest/gtest.h>

namespace nm::base {
using Args = std::vector<std::string>;

TEST(CommandLine, SplitsByTheWindowsRules) {
  const std::pair<const char*, Args> cases[] = {
      {"", {}},
      {"prog", {"prog"}},
      {"prog  \t a\t\tb  ", {"prog", "a", "b"}},
      // The program name keeps its backslashes and knows no escapes.
      {"\"C:\\dir\\\" b", {"C:\\dir\\", "b"}},
      {"prog \"a\"\"b\"", {"prog", "a\"b"}},
      {"prog \"a\"\"", {"prog", "a\""}},  // a doubled quote at the very end
      {"prog a\"\"b", {"prog", "ab"}},    // outside quotes, "" is an empty pair
      {"prog \"unterminated arg", {"prog", "unterminated arg"}},
      {"\"C:\\unterminated program", {"C:\\unterminated program"}}};
  for (const auto& [line, want] : cases) EXPECT_EQ(split_command_line(line), want) << line;
}

// Every argument of up to four characters from a, space, tab, quote and
// backslash comes back, twice in a row, behind a program folder with a space
// (the host's folder, where reg.exe is looked for first).
TEST(CommandLine, JoinedArgumentsSplitBack) {
  Args words = {""};
  for (size_t i = 0; words[i].size() < 4; ++i)
    for (const char c : {'a', ' ', '\t', '"', '\\'}) words.push_back(words[i] + c);
  const std::string program = "C:\\Program Files\\QAR\\reg.exe";
  for (const std::string& w : words)
    EXPECT_EQ(split_command_line(join_command_line(program, {w, w})), (Args{program, w, w})) << w;
  EXPECT_EQ(quote_argument("plain"), "plain");
}
}  // namespace nm::base
