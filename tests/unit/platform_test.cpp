// The platform layer, and what the end-to-end tests cannot reach of the link,
// of starting the application and of registering.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <tuple>
#include <utility>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

#include "host/deliver.hpp"
#include "host/extension_ids.hpp"
#include "host/manifest.hpp"
#include "host/registration.hpp"
#include "ipc/endpoint.hpp"
#include "ipc/send.hpp"
#include "os/console.hpp"
#include "os/error.hpp"
#include "os/net.hpp"
#include "os/process.hpp"
#include "support/fixtures.hpp"

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
  EXPECT_TRUE(r->out == want_out) << r->out.size();
  EXPECT_TRUE(r->err == want_err) << r->err.size();
}

TEST(SystemErrors, NotFoundIsTheKindCallersTellApart) {
  TempFolder tmp;
  ASSERT_TRUE(write_file(tmp / "file", "x"));
  const std::pair<fs::path, ErrorKind> reads[] = {
      {tmp / "missing", ErrorKind::not_found},
      {tmp / "missing" / "file", ErrorKind::not_found},
      {tmp / "file" / "below", ErrorKind::not_found},
      {tmp.path(), ErrorKind::other},  // there, but a folder
  };
  for (const auto& [path, want] : reads) {
    const auto r = read_file(path);
    ASSERT_FALSE(r) << path;
    EXPECT_EQ(r.error_kind(), want) << path << ": " << r.error();
  }
#ifdef _WIN32
  // Held without sharing by another opener: in use for now, not missing.
  const HANDLE h = CreateFileW((tmp / "file").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const auto r = read_file(tmp / "file");
  CloseHandle(h);
  EXPECT_EQ(r.error_kind(), ErrorKind::in_use) << (r ? "read" : r.error());
#endif
  const auto run = run_captured(tmp / "no-such-program.exe", {});
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error_kind(), ErrorKind::not_found);
  EXPECT_EQ(run.error(), not_found_error().text);
}

#ifdef _WIN32
// A non-blocking pipe reports success with nothing written: fail, not spin.
TEST(Console, OutputThatTakesNothingFails) {
  HANDLE read_end = nullptr, write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 4096));
  DWORD mode = PIPE_NOWAIT;
  ASSERT_TRUE(SetNamedPipeHandleState(write_end, &mode, nullptr, nullptr));
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, write_end);
  const Status st = write_stdout(std::string(1 << 20, 'x'));
  SetStdHandle(STD_OUTPUT_HANDLE, out);
  CloseHandle(write_end);
  CloseHandle(read_end);
  EXPECT_FALSE(st.ok());
}
#endif

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

TEST(LinkToStandin, UnreachableWithoutListenerAndOnlyStandardHandlesLent) {
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
  // No file and broken ones are shown end to end; a stale port or port 0 fails fast.
  for (const std::string& file : {"{\"port\":" + std::to_string(stale_port) + ",\"token\":\"t\"}",
                                  std::string("{\"port\":0,\"token\":\"t\"}")}) {
    TempFolder dir;
    ASSERT_TRUE(os::write_file(dir.path() / ipc::kEndpointFile, file).ok());
    const int64_t start = now_ms();
    EXPECT_EQ(ipc::send_to_app_in(dir.path(), {}).kind, ipc::AppAnswer::Kind::unreachable) << file;
    EXPECT_LT(now_ms() - start, 1500);
  }

  // A started program gets only its standard handles: no browser pipe stays open.
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

// A program that ends at once failed to start; Safari's mode starts only a bundle.
TEST(Deliver, ProgramThatEndsAtOnceIsNotStarted) {
  TempFolder dir;  // bin/ holds the host and app-path, data/ is the data directory
  const ScopedEnv data("QTM_DATA_DIR", os::path_display(dir / "data"));
  const ScopedEnv args("QTM_STANDIN_ARGS", "--exit-at-once");
  const fs::path host = dir / "bin" / ("nmhost" + standin_path().extension().string());
  ASSERT_TRUE(os::make_dirs(dir / "bin"));
  ASSERT_TRUE(os::write_file(dir / "bin" / host::kAppPathFile, os::path_display(standin_path())));
  EXPECT_EQ(host::deliver_to_app({}, {{}, host, true}),
            host::Outcome::not_running(os::path_display(host) + " is in no app"));
  const std::tuple<host::StartTimings, int64_t, int64_t> cases[] = {
      {{}, 5000, 9000}, {{50, 1000, 60000}, 1000, 4000}};
  for (const auto& [timings, at_least_ms, below_ms] : cases) {
    const int64_t start = now_ms();
    EXPECT_EQ(host::deliver_to_app({}, {timings, host}),
              host::Outcome::not_running(std::string(host::kDidNotStart)));
    EXPECT_GE(now_ms() - start, at_least_ms);
    EXPECT_LT(now_ms() - start, below_ms);
  }
}

TEST(Registration, RegSearchOrderExtensionIdsAndManifests) {
  const auto p = [](std::string_view s) { return path_from_utf8(s); };
  using Paths = std::vector<fs::path>;
  EXPECT_EQ(host::reg_candidates("reg.exe", p("C:/app"), p("C:/Windows/system32"), p("C:/Windows"),
                                 "C:/bin;\"C:/odd;dir\";;D:/tools", PathListRules::windows),
            (Paths{p("C:/app/reg.exe"), p("C:/Windows/system32/reg.exe"), p("C:/Windows/reg.exe"),
                   p("C:/bin/reg.exe"), p("C:/odd;dir/reg.exe"), p("D:/tools/reg.exe")}));
  // Missing folders are skipped.
  EXPECT_EQ(host::reg_candidates("reg.exe", {}, {}, p("C:/Windows"), "", PathListRules::windows),
            Paths{p("C:/Windows/reg.exe")});
  // A posix PATH: colons, quotes taken literally, empty entries skipped.
  EXPECT_EQ(host::reg_candidates("reg.exe", p("/opt/q"), {}, {},
                                 ":/usr/bin::/\"x\":", PathListRules::posix),
            (Paths{p("/opt/q/reg.exe"), p("/usr/bin/reg.exe"), p("/\"x\"/reg.exe")}));

  for (const char* id : {"pjgmbkdaieonhfclgkbimepajnodlhfc", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"})
    EXPECT_TRUE(host::is_extension_id(id)) << id;
  // q lies past p; upper case; one short, one long.
  for (const char* id : {"pjgmbkdaieonhfclgkbimepajnodlhfq", "Pjgmbkdaieonhfclgkbimepajnodlhfc",
                         "pjgmbkdaieonhfclgkbimepajnodlhf", "pjgmbkdaieonhfclgkbimepajnodlhfcc", "",
                         "EDGE_ADDONS_ID_PENDING"})
    EXPECT_FALSE(host::is_extension_id(id)) << id;

#ifdef _WIN32
  const fs::path bad(std::wstring(L"C:\\q\\\xD800.exe"));
  const fs::path good(std::wstring(L"C:\\q\\\x00E9.exe"));
  const std::string good_json = "C:\\\\q\\\\\xC3\xA9.exe";
#else
  const fs::path bad(std::string("/q/\xFF.exe"));
  const fs::path good(std::string("/q/\xC3\xA9.exe"));
  const std::string good_json = "/q/\xC3\xA9.exe";
#endif
  const auto r = host::manifest_for(host::ManifestKind::firefox, bad);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), "path contains invalid UTF-8 characters");
  const auto g = host::manifest_for(host::ManifestKind::chromium, good);
  ASSERT_TRUE(g) << g.error();
  EXPECT_NE(g->find("\"path\": \"" + good_json + "\""), std::string::npos) << *g;

  const fs::path file = fs::temp_directory_path() / "nm-manifest-test.json";
  ASSERT_TRUE(host::write_manifest(file, "a much longer first content"));
  ASSERT_TRUE(host::write_manifest(file, "{}"));
  EXPECT_EQ(*read_file(file), "{}");
  (void)remove_file(file);
}

#ifdef _WIN32
// "C:a\b" lies under that drive's current folder: made as the system sees it,
// not by walking up to the bare drive.
TEST(Folders, DriveRelativePathIsMade) {
  TempFolder tmp;
  const fs::path cwd = fs::current_path();
  fs::current_path(tmp.path());
  const Status made = make_dirs(tmp.path().root_name() / fs::path(L"a\\b\\logs"));
  fs::current_path(cwd);
  EXPECT_TRUE(made) << made.error();
  EXPECT_TRUE(is_dir(tmp / "a" / "b" / "logs"));
}
#endif

TEST(ProgramToStart, AppBundleAndAppPath) {
  const std::pair<const char*, const char*> found[] = {
      {"/Applications/Torvanel.app/Contents/MacOS/nmhost", "/Applications/Torvanel.app"},
      {"/a/Outer.app/Inner.app/Contents/MacOS/nmhost", "/a/Outer.app/Inner.app"},
      {"/a/tool.app", "/a/tool.app"},
      {"rel/y.app/nmhost", "rel/y.app"},
      {"/a/b.c.app/nmhost", "/a/b.c.app"},
  };
  for (const auto& [exe, want] : found)
    EXPECT_EQ(host::find_app_bundle(exe), fs::path(want)) << exe;
  for (const char* exe :
       {"/a/.app/nmhost", "/a/x.App/nmhost", "/a/x.apps/nmhost", "/a/x.app.bak/nmhost",
        "/a/app/nmhost", "/a/../nmhost", "/usr/local/bin/nmhost", "nmhost"})
    EXPECT_EQ(host::find_app_bundle(exe), std::nullopt) << exe;

  const fs::path dir = fs::path("install");
  EXPECT_EQ(host::program_to_start(dir, std::nullopt), dir / "qartorvaneldownloadmanager.exe");
  // Blank, or not UTF-8: the default.
  for (const char* content : {"", " \r\n\t\n", "\xe3\x80\x80\xc2\xa0", "\xff/opt/q/app"})
    EXPECT_EQ(host::program_to_start(dir, content), dir / "qartorvaneldownloadmanager.exe")
        << content;
  EXPECT_EQ(host::program_to_start(dir, "\n\n  /opt/q/my app  \r\n\n"), fs::path("/opt/q/my app"));
  EXPECT_EQ(host::program_to_start(dir, "\xe3\x80\x80/opt/q\xc2\xa0"), fs::path("/opt/q"));
  // A relative path is the installation's, whatever folder the host runs in.
  EXPECT_EQ(host::program_to_start(dir, "\xef\xbb\xbf/opt/q\n"),
            dir / path_from_utf8("\xef\xbb\xbf/opt/q"));
  EXPECT_EQ(host::program_to_start(dir, " bin/app.exe\n"), dir / "bin/app.exe");
}

}  // namespace
}  // namespace nm::os
