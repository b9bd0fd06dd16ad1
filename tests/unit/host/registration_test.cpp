#include "host/registration.hpp"

#include <gtest/gtest.h>

namespace nm::host {
TEST(RegCandidates, ProgramFolderSystemFoldersThenPath) {
  const auto p = [](std::string_view s) { return os::path_from_utf8(s); };
  using Paths = std::vector<fs::path>;
  EXPECT_EQ(reg_candidates("reg.exe", p("C:/app"), p("C:/Windows/system32"), p("C:/Windows"),
                           "C:/bin;\"C:/odd;dir\";;D:/tools", os::PathListRules::windows),
            (Paths{p("C:/app/reg.exe"), p("C:/Windows/system32/reg.exe"), p("C:/Windows/reg.exe"),
                   p("C:/bin/reg.exe"), p("C:/odd;dir/reg.exe"), p("D:/tools/reg.exe")}));
  // A posix PATH: colons, quotes taken literally; empty entries and missing folders skipped.
  EXPECT_EQ(reg_candidates("reg.exe", p("/opt/q"), {}, {},
                           ":/usr/bin::/\"x\":", os::PathListRules::posix),
            (Paths{p("/opt/q/reg.exe"), p("/usr/bin/reg.exe"), p("/\"x\"/reg.exe")}));
}
}  // namespace nm::host
