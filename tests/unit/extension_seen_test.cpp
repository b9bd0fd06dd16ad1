#include "nmhost/extension_seen.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "platform/fs.hpp"
#include "temp_folder.hpp"

namespace nm::host {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  const auto r = os::read_file(p);
  return r ? *r : r.error();
}

TEST(ExtensionSeen, ParsesLines) {
  using E = ExtensionSeenEntry;
  EXPECT_EQ(
      parse_extension_seen("Google Chrome\t2.0\r\n\n  \nOpera\nZen\ta\tb\nlast\t1\r"),
      (std::vector<E>{{"Google Chrome", "2.0"}, {"Opera", ""}, {"Zen", "a\tb"}, {"last", "1\r"}}));
  EXPECT_EQ(format_extension_seen({{"a", "1"}, {"", ""}}), "a\t1\n\t\n");
}

TEST(ExtensionSeen, RecordsChangesOnly) {
  TempFolder tmp;
  const fs::path dir = tmp / "data", file = dir / "extension-seen";
  record_extension_seen(dir, "Opera", "");  // creates the folder too
  const auto before = fs::last_write_time(file);
  record_extension_seen(dir, "Opera", "");
  record_extension_seen(dir, "", "9");  // an unnamed browser is not recorded in a read file
  EXPECT_EQ(fs::last_write_time(file), before);
  EXPECT_EQ(slurp(file), "Opera\t\n");
  // An unreadable file (not UTF-8) is rewritten, even for an unnamed browser.
  ASSERT_TRUE(os::write_file(file, "\xff\xfe"));
  record_extension_seen(dir, "", "1");
  EXPECT_EQ(slurp(file), "\t1\n");
  // No temporary file is left behind; the lock file stays, empty.
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(dir)) files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"extension-seen", "extension-seen.lock"}));
  EXPECT_EQ(slurp(dir / "extension-seen.lock"), "");
}

// One host at a time updates the list; one that cannot have the lock waits a
// bounded time and then updates it anyway.
TEST(ExtensionSeen, UpdatesTakeTurnsWithABoundedWait) {
  TempFolder dir;
  const auto lock_file = dir.path() / kExtensionSeenLockFile;
  auto first = std::make_optional<os::FileLock>(lock_file);
  os::FileLock second(lock_file);
  ASSERT_TRUE(first->try_lock());
  EXPECT_FALSE(second.try_lock());

  const auto start = std::chrono::steady_clock::now();
  record_extension_seen(dir.path(), "Opera", "1");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(slurp(dir / "extension-seen"), "Opera\t1\n");
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(5));

  first.reset();
  EXPECT_TRUE(second.try_lock());
}

}  // namespace
}  // namespace nm::host
