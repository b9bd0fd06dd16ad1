// The platform layer where its own behaviour matters: captured runs, the
// kinds of errors that callers act on, and console output.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/console.hpp"
#include "platform/error.hpp"
#include "platform/fs.hpp"
#include "platform/process.hpp"
#include "temp_folder.hpp"

namespace nm::os {
namespace {

// Both streams far larger than a pipe's buffer, so a reader that drains one
// stream before the other stalls the child and never returns.
TEST(RunCaptured, ReadsBothStreamsAndTheExitCode) {
#ifdef _WIN32
  TempFolder tmp;
  ASSERT_TRUE(write_file(tmp / "big", std::string(300000, 'a')));
  const std::string f = path_display(tmp / "big");
  const auto r = run_captured(*system_folder() / "cmd.exe",
                              {"/c", "type", f, "&", "type", f, "1>&2", "&", "exit", "7"});
  const std::string want_out(300000, 'a'), want_err(300000, 'a');
#else
  // `cat` also proves that standard input is empty rather than inherited;
  // standard output ends long before the error stream does.
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
  const struct {
    fs::path path;
    ErrorKind want;
  } reads[] = {
      {tmp / "missing", ErrorKind::not_found},
      {tmp / "missing" / "file", ErrorKind::not_found},
      {tmp / "file" / "below", ErrorKind::not_found},
      {tmp.path(), ErrorKind::other},  // there, but a folder
  };
  for (const auto& c : reads) {
    const auto r = read_file(c.path);
    ASSERT_FALSE(r) << c.path;
    EXPECT_EQ(r.error_kind(), c.want) << c.path << ": " << r.error();
  }
#ifdef _WIN32
  {
    // Held without sharing by another opener: in use for now, not missing.
    const HANDLE h = CreateFileW((tmp / "file").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const auto r = read_file(tmp / "file");
    CloseHandle(h);
    EXPECT_EQ(r.error_kind(), ErrorKind::in_use) << (r ? "read" : r.error());
  }
#endif
  const auto run = run_captured(tmp / "no-such-program.exe", {});
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error_kind(), ErrorKind::not_found);
  EXPECT_EQ(run.error(), not_found_error().text);
}

#ifdef _WIN32
// A pipe in non-blocking mode takes what fits and then reports success with
// nothing written: the write must fail, not spin.
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

}  // namespace
}  // namespace nm::os
