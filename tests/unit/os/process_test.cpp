// Starting programs: captured runs and what a started program inherits.
#include "os/process.hpp"

#include <gtest/gtest.h>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>

#endif
#include "ipc/endpoint.hpp"
#include "support/fixtures.hpp"
#include "support/standin.hpp"

namespace nm::os {
namespace {
// Both streams far larger than a pipe holds: draining one first would hang.
TEST(RunCaptured, ReadsBothStreamsAndTheExitCode) {
#ifdef _WIN32
  TempFolder tmp;
  ASSERT_TRUE(write_file(tmp / "big", std::string(300000, 'a')));
  const std::string f = path_display(tmp / "big");
  const auto r = run_captured(*system_folder() / "cmd.exe",
                              {"/c", "type", f, "&", "type", f, "1>&2", "&", "exit", "7"});
  const std::string want_out(300000, 'a'), want_err(300000, 'a');
#else
  // `cat` proves standard input is empty, not inherited; output ends long before errors.
  const auto r = run_captured("/bin/sh", {"-c",
                                          "head -c 300000 /dev/zero | tr '\\0' o; cat; exec >&-; "
                                          "head -c 300000 /dev/zero | tr '\\0' e >&2; exit 7"});
  const std::string want_out(300000, 'o'), want_err(300000, 'e');
#endif
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->exit_code, 7);
#ifndef _WIN32
  // Ended by a signal: 128 and its number, as a shell says.
  EXPECT_EQ(run_captured("/bin/sh", {"-c", "kill -9 $$"}).value().exit_code, 137);
#endif
  EXPECT_TRUE(r->out == want_out) << r->out.size();
  EXPECT_TRUE(r->err == want_err) << r->err.size();
}

// A pipe this process could lend to the programs it starts: both ends inheritable.
#ifdef _WIN32
struct LendablePipe {
  HANDLE read = nullptr, write = nullptr;
  LendablePipe() {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    EXPECT_TRUE(CreatePipe(&read, &write, &sa, 0));
  }
  ~LendablePipe() {
    close_write_end();
    CloseHandle(read);
  }
  void close_write_end() {
    if (write) CloseHandle(std::exchange(write, nullptr));
  }
  // With no write end open anywhere, the pipe is broken.
  bool no_writer_left() const {
    DWORD available = 0;
    return !PeekNamedPipe(read, nullptr, 0, nullptr, &available, nullptr) &&
           GetLastError() == ERROR_BROKEN_PIPE;
  }
};
#else
struct LendablePipe {
  int fds[2] = {-1, -1};
  LendablePipe() { EXPECT_EQ(::pipe(fds), 0); }
  ~LendablePipe() {
    close_write_end();
    ::close(fds[0]);
  }
  void close_write_end() {
    if (fds[1] >= 0) ::close(std::exchange(fds[1], -1));
  }
  bool no_writer_left() const {
    pollfd p{fds[0], POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
  }
};
#endif

// A started program gets only its standard handles: no browser pipe stays open.
TEST(StartProgram, OnlyStandardHandlesLent) {
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
}  // namespace
}  // namespace nm::os
