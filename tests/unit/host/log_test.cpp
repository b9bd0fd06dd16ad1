#include "host/log.hpp"

#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>

#include "support/fixtures.hpp"

namespace nm::host {
namespace fs = std::filesystem;

TEST(Log, UtcTimesAndLinesAppendedUnchangedOrNothing) {
  // Days about the years -400, 0 and 10000 and from 1899 to 2101, at moving times, by the calendar.
  using namespace std::chrono;
  for (const auto& [from, to] : {std::pair{-401, -398}, {-1, 2}, {1899, 2102}, {9999, 10002}})
    for (sys_days d = year{from} / 1 / 1; d < sys_days(year{to} / 1 / 1); d += days{1}) {
      const year_month_day date(d);
      const long long n = d.time_since_epoch().count(), y = static_cast<int>(date.year()),
                      s = (n + 1000000) * 7919 % 86400, us = (n + 1000000) * 999983 % 1000000;
      char want[40];
      std::snprintf(want, sizeof want, "%s%04lld-%02u-%02uT%02lld:%02lld:%02lld.%06lldZ",
                    y < 0 ? "-" : "", y < 0 ? -y : y, static_cast<unsigned>(date.month()),
                    static_cast<unsigned>(date.day()), s / 3600, s / 60 % 60, s % 60, us);
      ASSERT_EQ(format_log_time({n * 86400 + s, static_cast<uint32_t>(us * 1000 + 999)}), want);
    }

  const std::string at = "@" + std::string(kLogPrefix);
  TempFolder tmp;
  const fs::path dir = tmp / "new" / "data";  // the folders are made
  for (const char* message : {"first", "", "a\nb"}) log_line_in(dir, message);
  EXPECT_EQ(unstamped(dir / "logs" / "qtm.log"), at + "first\n" + at + "\n" + at + "a\nb\n");

  ASSERT_TRUE(os::write_file(tmp / "logs", "in the way"));
  log_line_in(tmp.path(), "lost");
  EXPECT_EQ(os::read_file(tmp / "logs").value(), "in the way");

  // No data directory writes nothing, not even in the current folder.
  TempFolder cwd;
  const fs::path old = fs::current_path();
  fs::current_path(cwd.path());
  log_line_in(std::nullopt, "nowhere");
  const bool nothing_written = fs::is_empty(cwd.path());
  fs::current_path(old);
  EXPECT_TRUE(nothing_written);
}
}  // namespace nm::host
