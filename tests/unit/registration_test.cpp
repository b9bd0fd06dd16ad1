#include "nmhost/registration.hpp"

#include <gtest/gtest.h>

#include "platform/fs.hpp"

namespace nm::host {
namespace {

TEST(Registration, RegSearchOrder) {
  const auto p = [](std::string_view s) { return os::path_from_utf8(s); };
  const struct {
    const char* name;
    std::optional<fs::path> exe, system, windows;
    std::string_view path_value;
    os::PathListRules rules;
    std::vector<fs::path> want;
  } cases[] = {
      {"all four sources",
       p("C:/app"),
       p("C:/Windows/system32"),
       p("C:/Windows"),
       "C:/bin;\"C:/odd;dir\";;D:/tools",
       os::PathListRules::windows,
       {p("C:/app/reg.exe"), p("C:/Windows/system32/reg.exe"), p("C:/Windows/reg.exe"),
        p("C:/bin/reg.exe"), p("C:/odd;dir/reg.exe"), p("D:/tools/reg.exe")}},
      {"missing folders are skipped",
       std::nullopt,
       std::nullopt,
       p("C:/Windows"),
       "",
       os::PathListRules::windows,
       {p("C:/Windows/reg.exe")}},
      {"posix PATH: colons, quotes literal, empty entries skipped",
       p("/opt/q"),
       std::nullopt,
       std::nullopt,
       ":/usr/bin::/\"x\":",
       os::PathListRules::posix,
       {p("/opt/q/reg.exe"), p("/usr/bin/reg.exe"), p("/\"x\"/reg.exe")}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(reg_candidates("reg.exe", c.exe, c.system, c.windows, c.path_value, c.rules), c.want)
        << c.name;
}

}  // namespace
}  // namespace nm::host
