#include "nmhost/log.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

#include "platform/child.hpp"
#include "platform/fs.hpp"
#include "temp_folder.hpp"

namespace nm::host {
namespace {

namespace fs = std::filesystem;

TEST(LogTime, FormatsUtcWithMicroseconds) {
  const struct {
    int64_t seconds;
    uint32_t nanoseconds;
    const char* want;
  } cases[] = {
      {0, 0, "1970-01-01T00:00:00.000000Z"},
      {1741356309, 42517999, "2025-03-07T14:05:09.042517Z"},
      {1709251199, 999999999, "2024-02-29T23:59:59.999999Z"},
      {951782400, 1000, "2000-02-29T00:00:00.000001Z"},
      {946684799, 999, "1999-12-31T23:59:59.000000Z"},
      {4107542400, 0, "2100-03-01T00:00:00.000000Z"},
      {253402300799, 0, "9999-12-31T23:59:59.000000Z"},
      {253402300800, 0, "10000-01-01T00:00:00.000000Z"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(format_log_time({c.seconds, c.nanoseconds}), c.want) << c.seconds;
}

TEST(LogText, FramesTheMessageUnchanged) {
  const os::UnixTime t{1741356309, 42517000};
  EXPECT_EQ(log_text(t, ""), "2025-03-07T14:05:09.042517Z  INFO nmhost qtm_nmhost: \n");
  EXPECT_EQ(log_text(t, "two\nlines \"q\" \xc3\xa9"),
            "2025-03-07T14:05:09.042517Z  INFO nmhost qtm_nmhost: two\nlines \"q\" \xc3\xa9\n");
}

// A line as the log writes it, with the message given.
bool is_log_line(const std::string& line, const std::string& message) {
  const std::string stamp = "0000-00-00T00:00:00.000000Z";
  if (line.size() != stamp.size() + kLogPrefix.size() + message.size()) return false;
  for (size_t i = 0; i < stamp.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (stamp[i] == '0' ? !digit : line[i] != stamp[i]) return false;
  }
  return line.substr(stamp.size(), kLogPrefix.size()) == kLogPrefix &&
         line.substr(stamp.size() + kLogPrefix.size()) == message;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(LogLine, CreatesTheFoldersAndAppends) {
  TempFolder tmp;
  const fs::path dir = tmp / "new" / "data";
  log_line_in(dir, "first");
  log_line_in(dir, "");
  log_line_in(dir, "a\nb");
  const auto text = os::read_file(dir / "logs" / "qtm.log");
  ASSERT_TRUE(text.ok()) << text.error();
  const auto lines = lines_of(*text);
  ASSERT_EQ(lines.size(), 4u) << *text;
  EXPECT_TRUE(is_log_line(lines[0], "first")) << lines[0];
  EXPECT_TRUE(is_log_line(lines[1], "")) << lines[1];
  EXPECT_TRUE(is_log_line(lines[2], "a")) << lines[2];
  EXPECT_EQ(lines[3], "b");
  EXPECT_EQ(text->back(), '\n');
  EXPECT_EQ(text->find('\r'), std::string::npos);
}

TEST(LogLine, DropsTheLineWhenLogsIsAFile) {
  TempFolder tmp;
  ASSERT_TRUE(os::write_file(tmp / "logs", "in the way"));
  log_line_in(tmp.path(), "lost");
  EXPECT_EQ(os::read_file(tmp / "logs").value(), "in the way");
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
}

// Runs with the current folder set to a fresh temporary one.
class InTempCurrentFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    fs::current_path(tmp_.path());
  }
  void TearDown() override { fs::current_path(old_); }
  TempFolder tmp_;
  fs::path old_;
};

TEST_F(InTempCurrentFolder, NoDataDirectoryWritesNothing) {
  log_line_in(std::nullopt, "nowhere");
  EXPECT_TRUE(fs::is_empty(tmp_.path()));
}

TEST_F(InTempCurrentFolder, EmptyDataDirectoryIsTheCurrentFolder) {
  log_line_in(fs::path(), "here");
  const auto text = os::read_file(tmp_ / "logs" / "qtm.log");
  ASSERT_TRUE(text.ok()) << text.error();
  EXPECT_TRUE(is_log_line(lines_of(*text).at(0), "here"));
}

constexpr const char* kWorkerVariable = "NMHOST_TEST_LOG_WORKER";
constexpr int kWorkerLines = 1000;
// Long enough that a torn write would show.
const std::string kPadding(300, '.');

// Run only as a child of ConcurrentProcessesKeepEveryLine.
TEST(LogLine, DISABLED_Worker) {
  if (!os::get_env(kWorkerVariable)) GTEST_SKIP() << "runs only as a child process";
  std::random_device rd;
  const std::string tag = std::to_string(rd()) + "-" + std::to_string(os::monotonic_ns());
  for (int i = 0; i < kWorkerLines; ++i)
    log_line("worker " + tag + " " + std::to_string(i) + " " + kPadding);
}

TEST(LogLine, ConcurrentProcessesKeepEveryLine) {
  auto exe = os::exe_path();
  ASSERT_TRUE(exe.ok()) << exe.error();
  TempFolder tmp;
  const auto old_dir = os::get_env("QTM_DATA_DIR");
  ASSERT_TRUE(os::set_env("QTM_DATA_DIR", os::path_to_utf8(tmp.path())));
  ASSERT_TRUE(os::set_env(kWorkerVariable, "1"));
  const std::vector<std::string> args = {"--gtest_filter=LogLine.DISABLED_Worker",
                                         "--gtest_also_run_disabled_tests"};
  const auto codes = os::run_side_by_side(*exe, {args, args});
  (void)os::set_env(kWorkerVariable, std::nullopt);
  (void)os::set_env("QTM_DATA_DIR", old_dir);
  ASSERT_TRUE(codes.ok()) << codes.error();
  EXPECT_EQ(*codes, (std::vector<int>{0, 0}));

  const auto text = os::read_file(tmp / "logs" / "qtm.log");
  ASSERT_TRUE(text.ok()) << text.error();
  const auto lines = lines_of(*text);
  ASSERT_EQ(lines.size(), 2u * kWorkerLines);
  // Each worker's lines are whole and in its own order.
  std::map<std::string, int> next;
  for (const std::string& line : lines) {
    const size_t start = line.find("worker ");
    ASSERT_NE(start, std::string::npos) << line;
    std::istringstream fields(line.substr(start + 7));
    std::string tag;
    int n = -1;
    fields >> tag >> n;
    ASSERT_TRUE(is_log_line(line, "worker " + tag + " " + std::to_string(n) + " " + kPadding))
        << line;
    EXPECT_EQ(n, next[tag]++) << line;
  }
  EXPECT_EQ(next.size(), 2u);
  for (const auto& [tag, count] : next) EXPECT_EQ(count, kWorkerLines) << tag;
}

}  // namespace
}  // namespace nm::host
