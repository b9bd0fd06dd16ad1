#include "host/log.hpp"

#include <gtest/gtest.h>
#include <tuple>

#include "support/fixtures.hpp"

namespace nm::host {
namespace fs = std::filesystem;

TEST(Log, UtcTimesAndLinesAppendedUnchangedOrNothing) {
  const std::tuple<int64_t, uint32_t, const char*> cases[] = {
      {0, 0, "1970-01-01T00:00:00.000000Z"},
      {1741356309, 42517999, "2025-03-07T14:05:09.042517Z"},
      {1743379200, 0, "2025-03-31T00:00:00.000000Z"},  // the last day of a month
      {1709251199, 999999999, "2024-02-29T23:59:59.999999Z"},
      {951782400, 1000, "2000-02-29T00:00:00.000001Z"},
      {4107542400, 999, "2100-03-01T00:00:00.000000Z"},
      {253402300800, 0, "10000-01-01T00:00:00.000000Z"},
      // Before 1970 and before the year 0: days and eras round down.
      {-1, 5000, "1969-12-31T23:59:59.000005Z"},
      {-62167219201, 0, "-0001-12-31T23:59:59.000000Z"}};
  for (const auto& [seconds, nanoseconds, want] : cases)
    EXPECT_EQ(format_log_time({seconds, nanoseconds}), want) << seconds;

  const std::string at = "@" + std::string(kLogPrefix);
  TempFolder tmp;
  const fs::path dir = tmp / "new" / "data";  // the folders are made
  for (const char* message : {"first", "", "a\nb"}) log_line_in(dir, message);
  EXPECT_EQ(unstamped(dir / "logs" / "qtm.log"), at + "first\n" + at + "\n" + at + "a\nb\n");

  ASSERT_TRUE(os::write_file(tmp / "logs", "in the way"));
  log_line_in(tmp.path(), "lost");
  EXPECT_EQ(os::read_file(tmp / "logs").value(), "in the way");

  // No data directory writes nothing; an empty one is the current folder.
  TempFolder cwd;
  const fs::path old = fs::current_path();
  fs::current_path(cwd.path());
  log_line_in(std::nullopt, "nowhere");
  const bool nothing_written = fs::is_empty(cwd.path());
  log_line_in(fs::path(), "here");
  fs::current_path(old);
  EXPECT_TRUE(nothing_written);
  EXPECT_EQ(unstamped(cwd / "logs" / "qtm.log"), at + "here\n");
}
}  // namespace nm::host
