#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <tuple>

#include "support/fixtures.hpp"
#include "host/extension_seen.hpp"
#include "host/log.hpp"

namespace nm::host {
namespace {

namespace fs = std::filesystem;

// A file's text (or why it could not be read) with each time stamp as "@".
std::string unstamped(const fs::path& file) {
  const auto text = os::read_file(file);
  static const std::regex stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");
  return text ? std::regex_replace(*text, stamp, "@") : text.error();
}

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
      {-62167219201, 0, "-0001-12-31T23:59:59.000000Z"},
  };
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

TEST(ExtensionSeen, ParsesAndRecordsChangesOnlyTakingTurns) {
  using E = ExtensionSeenEntry;
  EXPECT_EQ(
      parse_extension_seen("Google Chrome\t2.0\r\n\n  \nOpera\nZen\ta\tb\nlast\t1\r"),
      (std::vector<E>{{"Google Chrome", "2.0"}, {"Opera", ""}, {"Zen", "a\tb"}, {"last", "1\r"}}));
  EXPECT_EQ(format_extension_seen({{"a", "1"}, {"", ""}}), "a\t1\n\t\n");

  TempFolder tmp;
  const fs::path dir = tmp / "data", file = dir / "extension-seen";
  record_extension_seen(dir, "Opera", "");  // creates the folder too
  const auto before = fs::last_write_time(file);
  record_extension_seen(dir, "Opera", "");
  record_extension_seen(dir, "", "9");  // an unnamed browser is not recorded in a read file
  EXPECT_EQ(fs::last_write_time(file), before);
  EXPECT_EQ(unstamped(file), "Opera\t\n");
  // An unreadable file (not UTF-8) is rewritten, even for an unnamed browser.
  ASSERT_TRUE(os::write_file(file, "\xff\xfe"));
  record_extension_seen(dir, "", "1");
  EXPECT_EQ(unstamped(file), "\t1\n");
  // Outside text can neither add a line nor grow the file: the version is
  // recorded cleaned and cut, and a repeat compares as recorded (no rewrite
  // would keep "Opera" first).
  const std::string dirty = "1\n\u2028x\t" + std::string(100, 'v');
  record_extension_seen(dir, "Opera", dirty);
  const std::string clean = "1  x " + std::string(59, 'v');  // 64 in all
  EXPECT_EQ(unstamped(file), "\t1\nOpera\t" + clean + "\n");
  ASSERT_TRUE(os::write_file(file, "Opera\t" + clean + "\nOther\t1\n"));
  record_extension_seen(dir, "Opera", dirty);
  EXPECT_EQ(unstamped(file), "Opera\t" + clean + "\nOther\t1\n");
  ASSERT_TRUE(os::write_file(file, "\t1\n"));
  // No temporary file is left behind; the lock file stays, empty.
  std::set<std::string> files;
  for (const auto& e : fs::directory_iterator(dir)) files.insert(e.path().filename().string());
  EXPECT_EQ(files, (std::set<std::string>{"extension-seen", "extension-seen.lock"}));
  EXPECT_EQ(unstamped(dir / "extension-seen.lock"), "");

  // A host that cannot have the lock waits a bounded time, then updates anyway.
  const auto lock_file = dir / kExtensionSeenLockFile;
  auto first = std::make_optional<os::FileLock>(lock_file);
  os::FileLock second(lock_file);
  ASSERT_TRUE(first->try_lock());
  EXPECT_FALSE(second.try_lock());

  const auto start = std::chrono::steady_clock::now();
  record_extension_seen(dir, "Opera", "1");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(unstamped(file), "\t1\nOpera\t1\n");
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(5));

  first.reset();
  EXPECT_TRUE(second.try_lock());
}

}  // namespace
}  // namespace nm::host
