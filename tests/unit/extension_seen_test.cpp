#include "nmhost/extension_seen.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#include "platform/fs.hpp"

namespace nm::host {
namespace {

namespace fs = std::filesystem;

struct TempFolder {
  fs::path path =
      fs::temp_directory_path() / ("nmhost-seen-" + std::to_string(std::random_device{}()));
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TEST(ExtensionSeen, ParsesLines) {
  using E = ExtensionSeenEntry;
  EXPECT_EQ(
      parse_extension_seen("Google Chrome\t2.0\r\n\n  \nOpera\nZen\ta\tb\nlast\t1\r"),
      (std::vector<E>{{"Google Chrome", "2.0"}, {"Opera", ""}, {"Zen", "a\tb"}, {"last", "1\r"}}));
  EXPECT_EQ(format_extension_seen({{"a", "1"}, {"", ""}}), "a\t1\n\t\n");
}

TEST(ExtensionSeen, RecordsChangesOnly) {
  TempFolder dir;
  const auto file = dir.path / "extension-seen";
  record_extension_seen(dir.path, "Google Chrome", "2.0");  // creates the folder too
  EXPECT_EQ(slurp(file), "Google Chrome\t2.0\n");
  record_extension_seen(dir.path, "Opera", "");
  EXPECT_EQ(slurp(file), "Google Chrome\t2.0\nOpera\t\n");
  const auto before = fs::last_write_time(file);
  record_extension_seen(dir.path, "Google Chrome", "2.0");
  record_extension_seen(dir.path, "", "9");  // an unnamed browser is not recorded in a read file
  EXPECT_EQ(fs::last_write_time(file), before);
  record_extension_seen(dir.path, "Google Chrome", "2.1");
  EXPECT_EQ(slurp(file), "Opera\t\nGoogle Chrome\t2.1\n");
  // An unreadable file (not UTF-8) is rewritten, even for an unnamed browser.
  std::ofstream(file, std::ios::binary) << "\xff\xfe";
  record_extension_seen(dir.path, "", "1");
  EXPECT_EQ(slurp(file), "\t1\n");
  // No temporary file is left behind; the lock file stays, empty.
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(dir.path))
    files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"extension-seen", "extension-seen.lock"}));
  EXPECT_EQ(slurp(dir.path / "extension-seen.lock"), "");
}

// One host at a time updates the list; one that cannot have the lock waits a
// bounded time and then updates it anyway.
TEST(ExtensionSeen, UpdatesTakeTurnsWithABoundedWait) {
  TempFolder dir;
  fs::create_directories(dir.path);
  const auto lock_file = dir.path / kExtensionSeenLockFile;
  auto first = std::make_optional<os::FileLock>(lock_file);
  os::FileLock second(lock_file);
  ASSERT_TRUE(first->try_lock());
  EXPECT_FALSE(second.try_lock());

  const auto start = std::chrono::steady_clock::now();
  record_extension_seen(dir.path, "Opera", "1");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(slurp(dir.path / "extension-seen"), "Opera\t1\n");
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(5));

  first.reset();
  EXPECT_TRUE(second.try_lock());
}

}  // namespace
}  // namespace nm::host
