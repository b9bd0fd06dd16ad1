#include "nmhost/log.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "platform/fs.hpp"
#include "platform/process.hpp"
#include "scoped_env.hpp"
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
      {4107542400, 999, "2100-03-01T00:00:00.000000Z"},
      {253402300800, 0, "10000-01-01T00:00:00.000000Z"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(format_log_time({c.seconds, c.nanoseconds}), c.want) << c.seconds;
}

// Whether the line is the log's frame around the message.
bool is_log_line(const std::string& line, const std::string& message) {
  const std::string stamp = "0000-00-00T00:00:00.000000Z";
  if (line.size() != stamp.size() + kLogPrefix.size() + message.size()) return false;
  for (size_t i = 0; i < stamp.size(); ++i)
    if (stamp[i] == '0' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != stamp[i])
      return false;
  return line.substr(stamp.size()) == std::string(kLogPrefix) + message;
}

std::vector<std::string> lines_of(const fs::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(os::read_file(file).value());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(LogLine, CreatesTheFoldersAndAppendsMessagesUnchanged) {
  TempFolder tmp;
  const fs::path dir = tmp / "new" / "data";
  log_line_in(dir, "first");
  log_line_in(dir, "");
  log_line_in(dir, "a\nb");
  EXPECT_EQ(os::read_file(dir / "logs" / "qtm.log").value().back(), '\n');
  const auto lines = lines_of(dir / "logs" / "qtm.log");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(is_log_line(lines[0], "first")) << lines[0];
  EXPECT_TRUE(is_log_line(lines[1], "")) << lines[1];
  EXPECT_TRUE(is_log_line(lines[2], "a")) << lines[2];
  EXPECT_EQ(lines[3], "b");
}

TEST(LogLine, DropsTheLineWhenLogsIsAFileOrThereIsNoDataDirectory) {
  TempFolder tmp;
  ASSERT_TRUE(os::write_file(tmp / "logs", "in the way"));
  log_line_in(tmp.path(), "lost");
  EXPECT_EQ(os::read_file(tmp / "logs").value(), "in the way");

  // No data directory writes nothing, not even beside the current folder;
  // an empty one is the current folder.
  TempFolder cwd;
  const fs::path old = fs::current_path();
  fs::current_path(cwd.path());
  log_line_in(std::nullopt, "nowhere");
  const bool nothing_written = fs::is_empty(cwd.path());
  log_line_in(fs::path(), "here");
  fs::current_path(old);
  EXPECT_TRUE(nothing_written);
  EXPECT_TRUE(is_log_line(lines_of(cwd / "logs" / "qtm.log").at(0), "here"));
}

constexpr const char* kWorkerVariable = "NMHOST_TEST_LOG_WORKER";
constexpr int kWorkerLines = 1000;
const std::string kPadding(300, '.');  // long enough that a torn write shows

// Runs only as a child of ConcurrentProcessesKeepEveryLine.
TEST(LogLine, DISABLED_Worker) {
  if (!os::get_env(kWorkerVariable)) GTEST_SKIP() << "runs only as a child process";
  const std::string tag = std::to_string(std::random_device{}() ^ os::monotonic_ns());
  for (int i = 0; i < kWorkerLines; ++i)
    log_line("worker " + tag + " " + std::to_string(i) + " " + kPadding);
}

TEST(LogLine, ConcurrentProcessesKeepEveryLine) {
  TempFolder tmp;
  const test::ScopedEnv data_dir("QTM_DATA_DIR", os::path_to_utf8(tmp.path()));
  const test::ScopedEnv worker(kWorkerVariable, "1");
  ASSERT_TRUE(data_dir.ok() && worker.ok());
  // Two copies of this program at once, each started and waited for on a
  // thread of its own.
  const std::vector<std::string> args = {"--gtest_filter=LogLine.DISABLED_Worker",
                                         "--gtest_also_run_disabled_tests"};
  std::optional<Result<os::Captured>> runs[2];
  {
    std::jthread a([&] { runs[0] = os::run_captured(os::exe_path().value(), args); });
    std::jthread b([&] { runs[1] = os::run_captured(os::exe_path().value(), args); });
  }
  for (const auto& run : runs) {
    ASSERT_TRUE(*run) << run->error();
    EXPECT_EQ((*run)->exit_code, 0) << (*run)->out;
  }

  const auto lines = lines_of(tmp / "logs" / "qtm.log");
  ASSERT_EQ(lines.size(), 2u * kWorkerLines);
  // Every line whole, each worker's lines in its own order.
  std::map<std::string, int> next;
  for (const std::string& line : lines) {
    std::istringstream fields(line.substr(std::min(line.size(), line.find("worker ") + 7)));
    std::string tag;
    int n = -1;
    fields >> tag >> n;
    ASSERT_TRUE(is_log_line(line, "worker " + tag + " " + std::to_string(n) + " " + kPadding))
        << line;
    EXPECT_EQ(n, next[tag]++) << line;
  }
  EXPECT_EQ(next.size(), 2u);
}

}  // namespace
}  // namespace nm::host
