// What the end-to-end tests cannot reach of the link and of starting the
// application: refusals without a listener, the handles a started program
// gets, and start timings. The stand-in application (tools/standin) is built
// beside the unit tests of each target.
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
#include "temp_folder.hpp"

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

TEST(LinkToStandin, NoListenerIsUnreachable) {
  uint16_t stale_port = 0;
  {
    auto l = os::TcpListener::bind_loopback();
    ASSERT_TRUE(l.ok()) << l.error();
    stale_port = l->port();
    // Nobody connects: the wait ends empty-handed, not in an error.
    const auto none = l->accept(50);
    ASSERT_TRUE(none.ok()) << none.error();
    EXPECT_FALSE(none->has_value());
  }
  const std::optional<std::string> files[] = {
      std::nullopt,
      "{\"port\":" + std::to_string(stale_port) + ",\"token\":\"t\",\"pid\":1}",
      "{\"port\":\"" + std::to_string(stale_port) + "\",\"token\":\"t\"}",
      "{\"port\":0,\"token\":\"t\"}",
  };
  for (const auto& file : files) {
    TempFolder dir;
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
    TempFolder dir;
    LendablePipe pipe;
    const std::vector<std::string> args = {"--idle-exit-ms", "30000", os::path_display(dir.path())};
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
    if (detached) {
      EXPECT_TRUE(wait_until([&] { return detached->state() == os::ProcessState::ended; }, 10000));
    }
  }
}

// A program that ends at once is a failed start after the grace time, unless
// the limit comes first; in Safari's run mode only an app bundle is started.
TEST(Deliver, ProgramThatEndsAtOnceIsNotStarted) {
  TempFolder dir;  // bin/ holds the host and app-path, data/ is the data directory
  const ScopedEnv data("QTM_DATA_DIR", os::path_display(dir / "data"));
  const ScopedEnv args("QTM_STANDIN_ARGS", "--exit-at-once");
  const fs::path host = dir / "bin" / ("nmhost" + standin_path().extension().string());
  ASSERT_TRUE(os::make_dirs(dir / "bin"));
  ASSERT_TRUE(os::write_file(dir / "bin" / host::kAppPathFile, os::path_display(standin_path())));
  EXPECT_EQ(host::deliver_to_app({}, {{}, host, true}),
            Outcome::not_running(os::path_display(host) + " is in no app"));
  const struct {
    host::StartTimings timings;
    int64_t at_least_ms, below_ms;
  } cases[] = {{{}, 5000, 9000}, {{50, 1000, 60000}, 1000, 4000}};
  for (const auto& c : cases) {
    const int64_t start = now_ms();
    EXPECT_EQ(host::deliver_to_app({}, {c.timings, host}),
              Outcome::not_running(std::string(host::kDidNotStart)));
    const int64_t took = now_ms() - start;
    EXPECT_GE(took, c.at_least_ms);
    EXPECT_LT(took, c.below_ms);
  }
}

}  // namespace
}  // namespace nm
