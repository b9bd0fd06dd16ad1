#include "host/extension_seen.hpp"

#include <gtest/gtest.h>
#include <chrono>

#include "support/fixtures.hpp"

namespace nm::host {
namespace fs = std::filesystem;

TEST(ExtensionSeen, ParsesAndRecordsChangesOnlyTakingTurns) {
  using E = ExtensionSeenEntry;
  EXPECT_EQ(
      parse_extension_seen("Google Chrome\t2.0\r\n\n  \nOpera\nZen\ta\tb\nlast\t1\r"),
      (std::vector<E>{{"Google Chrome", "2.0"}, {"Opera", ""}, {"Zen", "a\tb"}, {"last", "1\r"}}));

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
}  // namespace nm::host
