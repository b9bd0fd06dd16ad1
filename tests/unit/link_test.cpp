// The link over real sockets and processes, against the stand-in application
// (tools/standin), which is built beside the unit tests of each target.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

#include "ipc/endpoint.hpp"
#include "ipc/send.hpp"
#include "nmhost/deliver.hpp"
#include "platform/clock.hpp"
#include "platform/fs.hpp"
#include "platform/net.hpp"
#include "platform/process.hpp"
#include "scoped_env.hpp"

namespace nm {
namespace {

namespace fs = std::filesystem;
using host::Outcome;
using ipc::AppAnswer;
using test::ScopedEnv;

// build/<target>/tests/unit_tests[.exe] -> build/<target>/tools/qtm-standin[.exe]
fs::path standin_path() {
  const auto exe = os::exe_path();
  EXPECT_TRUE(exe.ok());
  return exe->parent_path().parent_path() / "tools" / ("qtm-standin" + exe->extension().string());
}

std::string display(const fs::path& p) {
  return os::path_display(p);
}

int64_t now_ms() {
  return os::monotonic_ns() / 1000000;
}

bool wait_until(const std::function<bool()>& done, int64_t limit_ms) {
  const int64_t end = now_ms() + limit_ms;
  while (!done()) {
    if (now_ms() > end) return false;
    os::sleep_ms(20);
  }
  return true;
}

class TempDir {
 public:
  TempDir() {
    static int count = 0;
    path_ = fs::temp_directory_path() /
            ("nmhost-link-" + std::to_string(os::current_pid()) + "-" + std::to_string(++count));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A pipe this process could lend to the programs it starts: both ends
// inheritable.
class LendablePipe {
 public:
#ifdef _WIN32
  LendablePipe() {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    EXPECT_TRUE(CreatePipe(&read_, &write_, &sa, 0));
  }
  ~LendablePipe() {
    close_write_end();
    CloseHandle(read_);
  }
  void close_write_end() {
    if (write_) CloseHandle(write_);
    write_ = nullptr;
  }
  // With no write end open anywhere, the pipe is broken.
  bool no_writer_left() const {
    DWORD available = 0;
    return !PeekNamedPipe(read_, nullptr, 0, nullptr, &available, nullptr) &&
           GetLastError() == ERROR_BROKEN_PIPE;
  }

 private:
  HANDLE read_ = nullptr, write_ = nullptr;
#else
  LendablePipe() {
    EXPECT_EQ(::pipe(fds_), 0);
  }
  ~LendablePipe() {
    close_write_end();
    ::close(fds_[0]);
  }
  void close_write_end() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
  }
  bool no_writer_left() const {
    pollfd p{fds_[0], POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
  }

 private:
  int fds_[2] = {-1, -1};
#endif
};

// Starts the stand-in on `dir` for one request and waits for its endpoint.
Result<os::Process> start_standin(const fs::path& dir, std::vector<std::string> args) {
  args.insert(args.end(), {"--max-requests", "1", "--idle-exit-ms", "30000", display(dir)});
  auto p = os::start_program(standin_path(), args, os::StartMode::detached);
  if (!p) return Error{"cannot start " + display(standin_path()) + ": " + p.error()};
  if (!wait_until([&] { return os::metadata_readable(dir / ipc::kEndpointFile); }, 15000))
    return Error{"the stand-in wrote no endpoint file"};
  return p;
}

void expect_ended(os::Process& p) {
  EXPECT_TRUE(wait_until([&] { return p.state() == os::ProcessState::ended; }, 10000));
}

ipc::AppRequest sample_request() {
  ipc::AppRequest r;
  r.url = "https://example.com/f.zip";
  r.name = "f\xc3\xa9.zip";
  r.cookie_jar = {{"a", "1", "example.com", true, "/", true, 1700000000.5}};
  r.links = {"https://example.com/\"quoted\""};
  return r;
}

TEST(LinkToStandin, AnswersBecomeOutcomes) {
  const struct {
    std::vector<std::string> args;
    AppAnswer want;
  } cases[] = {
      {{}, AppAnswer::delivered()},
      {{"--answer", "  ok  "}, AppAnswer::delivered()},
      {{"--answer", "OK"}, AppAnswer::failed("OK")},
      {{"--answer", "too-large: 3 GB over the limit"},
       AppAnswer::too_large("too-large: 3 GB over the limit")},
      {{"--answer", "  not now \t"}, AppAnswer::failed("  not now")},
      {{"--close"}, AppAnswer::failed("no answer")},
      {{"--bad-utf8"}, AppAnswer::failed("stream did not contain valid UTF-8")},
  };
  const ipc::AppRequest request = sample_request();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "ok" : c.args.back());
    TempDir dir;
    auto app = start_standin(dir.path(), c.args);
    ASSERT_TRUE(app.ok()) << app.error();
    const auto ep = ipc::read_endpoint_in(dir.path());
    ASSERT_TRUE(ep.ok()) << ep.error();
    EXPECT_EQ(ep->pid, app->pid());

    EXPECT_EQ(ipc::send_to_app_in(dir.path(), request), c.want);
    expect_ended(*app);
    // The application got the whole line with the token of its file.
    EXPECT_EQ(os::read_file(dir.path() / "requests.jsonl").value(),
              ipc::serialize_request(request, ep->token));
    EXPECT_FALSE(os::metadata_readable(dir.path() / ipc::kEndpointFile));
  }
}

TEST(LinkToStandin, SilentApplicationTimesOut) {
  TempDir dir;
  auto app = start_standin(dir.path(), {"--no-answer"});
  ASSERT_TRUE(app.ok()) << app.error();
  const int64_t start = now_ms();
  const AppAnswer got = ipc::send_to_app_in(dir.path(), {});
  const int64_t took = now_ms() - start;
  EXPECT_EQ(got.kind, AppAnswer::Kind::failed);
  EXPECT_NE(got.text.find(" (os error "), std::string::npos) << got.text;
  EXPECT_GE(took, 1900);
  EXPECT_LT(took, 6000);
  expect_ended(*app);
}

TEST(LinkToStandin, NoListenerIsUnreachable) {
  uint16_t stale_port = 0;
  {
    auto l = os::TcpListener::bind_loopback();
    ASSERT_TRUE(l.ok()) << l.error();
    stale_port = l->port();
  }
  const std::optional<std::string> files[] = {
      std::nullopt,
      "{\"port\":" + std::to_string(stale_port) + ",\"token\":\"t\",\"pid\":1}",
      "{\"port\":\"" + std::to_string(stale_port) + "\",\"token\":\"t\"}",
      "{\"port\":0,\"token\":\"t\"}",
  };
  for (const auto& file : files) {
    TempDir dir;
    if (file) {
      ASSERT_TRUE(os::write_file(dir.path() / ipc::kEndpointFile, *file).ok());
    }
    const int64_t start = now_ms();
    EXPECT_EQ(ipc::send_to_app_in(dir.path(), {}).kind, AppAnswer::Kind::unreachable)
        << file.value_or("(none)");
    EXPECT_LT(now_ms() - start, 1500);
  }
}

// A started program gets its standard handles and nothing else of ours: an
// inheritable pipe of the browser must not stay open in the application, nor
// in the registry tool while it runs.
TEST(StartingPrograms, NothingButTheStandardHandlesIsLent) {
  for (const bool captured : {false, true}) {
    SCOPED_TRACE(captured ? "captured run" : "detached start");
    TempDir dir;
    LendablePipe pipe;
    const std::vector<std::string> args = {"--idle-exit-ms", "30000", display(dir.path())};
    std::optional<os::Process> detached;
    std::jthread waiting;
    if (captured) {
      waiting = std::jthread([&] { (void)os::run_captured(standin_path(), args); });
    } else {
      auto p = os::start_program(standin_path(), args, os::StartMode::detached);
      ASSERT_TRUE(p.ok()) << p.error();
      detached = std::move(*p);
    }
    ASSERT_TRUE(
        wait_until([&] { return os::metadata_readable(dir.path() / ipc::kEndpointFile); }, 15000));
    pipe.close_write_end();
    EXPECT_TRUE(pipe.no_writer_left());
    ASSERT_TRUE(os::write_file(dir.path() / "standin.stop", "").ok());
    if (detached) expect_ended(*detached);
  }
}

// A host installation in a temporary folder: `bin` holds the host's path and
// perhaps `app-path`, `data` is the data directory.
class DeliverTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(bin()); }
  fs::path bin() const { return dir_.path() / "bin"; }
  fs::path data() const { return dir_.path() / "data"; }
  host::DeliverSettings settings(host::StartTimings t = {}) const {
    return {t, bin() / ("nmhost" + standin_path().extension().string())};
  }
  void write_app_path(std::string_view text) {
    ASSERT_TRUE(os::write_file(bin() / host::kAppPathFile, text).ok());
  }
  // The stand-in started by the host serves one request and then removes
  // its endpoint file.
  void expect_standin_done() {
    EXPECT_TRUE(
        wait_until([&] { return !os::metadata_readable(data() / ipc::kEndpointFile); }, 10000));
  }

  TempDir dir_;
  ScopedEnv data_env_{"QTM_DATA_DIR", display(data())};
};

TEST_F(DeliverTest, StartsTheApplicationNamedByAppPath) {
  const struct {
    const char* args;
    Outcome want;
  } cases[] = {
      {"--listen-delay-ms 300", Outcome::delivered()},
      {"--answer \"too-large: 9 GB\"", Outcome::too_large("too-large: 9 GB")},
  };
  const ipc::AppRequest request = sample_request();
  std::string line = ipc::serialize_request(request, "");
  const std::string after_token = line.substr(std::string_view("{\"token\":\"\"").size());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    ScopedEnv args("QTM_STANDIN_ARGS", std::string("--max-requests 1 ") + c.args);
    os::remove_file(data() / "requests.jsonl");
    write_app_path("\n  " + display(standin_path()) + "  \r\n\n");
    EXPECT_EQ(host::deliver_to_app(request, settings()), c.want);
    expect_standin_done();
    const auto recorded = os::read_file(data() / "requests.jsonl");
    const std::string got = recorded ? *recorded : recorded.error();
    EXPECT_TRUE(got.starts_with("{\"token\":\"") && got.ends_with(after_token)) << got;
  }
}

TEST_F(DeliverTest, RunningApplicationIsNotStartedAgain) {
  // Nothing to start beside the host: a start would fail.
  auto app = start_standin(data(), {"--answer", "too-large"});
  ASSERT_TRUE(app.ok()) << app.error();
  EXPECT_EQ(host::deliver_to_app({}, settings()), Outcome::too_large("too-large"));
  expect_ended(*app);
}

TEST_F(DeliverTest, ProgramThatCannotStart) {
  const std::string standin = display(standin_path());
  const std::string fallback = display(bin() / host::kAppProgram);
  const struct {
    std::optional<std::string> app_path;
    std::string program;
  } cases[] = {
      {std::nullopt, fallback},
      {" \r\n", fallback},
      // A byte-order mark is no white space: it stays in front of the path.
      {"\xef\xbb\xbf" + standin + "\r\n", "\xef\xbb\xbf" + standin},
      {display(dir_.path() / "missing.exe"), display(dir_.path() / "missing.exe")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    os::remove_file(bin() / host::kAppPathFile);
    if (c.app_path) write_app_path(*c.app_path);
    const Outcome got = host::deliver_to_app({}, settings());
    EXPECT_EQ(got.kind, Outcome::Kind::not_running);
    EXPECT_TRUE(got.text.starts_with("cannot start " + c.program + ": ")) << got.text;
    EXPECT_TRUE(got.text.ends_with(")")) << got.text;
  }
}

TEST_F(DeliverTest, SafariModeNeedsAnAppBundle) {
  host::DeliverSettings safari = settings();
  safari.safari_mode = true;
  EXPECT_EQ(host::deliver_to_app({}, safari),
            Outcome::not_running(display(safari.exe_path.value()) + " is in no app"));
}

TEST_F(DeliverTest, ProgramThatEndsAtOnceFailsAfterTheGraceTime) {
  ScopedEnv args("QTM_STANDIN_ARGS", "--exit-at-once");
  write_app_path(display(standin_path()));
  const int64_t start = now_ms();
  EXPECT_EQ(host::deliver_to_app({}, settings()),
            Outcome::not_running(std::string(host::kDidNotStart)));
  const int64_t took = now_ms() - start;
  EXPECT_GE(took, 5000);
  EXPECT_LT(took, 9000);
}

TEST_F(DeliverTest, GivesUpAtTheLimit) {
  // The ended process would be tolerated for a minute; the limit comes first.
  ScopedEnv args("QTM_STANDIN_ARGS", "--exit-at-once");
  write_app_path(display(standin_path()));
  const int64_t start = now_ms();
  EXPECT_EQ(host::deliver_to_app({}, settings({50, 1000, 60000})),
            Outcome::not_running(std::string(host::kDidNotStart)));
  const int64_t took = now_ms() - start;
  EXPECT_GE(took, 1000);
  EXPECT_LT(took, 4000);
}

}  // namespace
}  // namespace nm
