#include "os/error.hpp"

#include <gtest/gtest.h>
#include <tuple>

#include "os/process.hpp"
#include "support/fixtures.hpp"

namespace nm::os {
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
  // Windows' codes, as the Win32 layer reads them: a file deleted while
  // another program holds it is denied until that program lets go.
  const std::tuple<uint32_t, uint32_t, ErrorKind> windows[] = {{2, 0, ErrorKind::not_found},
                                                               {3, 0, ErrorKind::not_found},
                                                               {15, 0, ErrorKind::not_found},
                                                               {53, 0, ErrorKind::not_found},
                                                               {67, 0, ErrorKind::not_found},
                                                               {258, 0, ErrorKind::timed_out},
                                                               {1460, 0, ErrorKind::timed_out},
                                                               {10060, 0, ErrorKind::timed_out},
                                                               {32, 0, ErrorKind::in_use},
                                                               {33, 0, ErrorKind::in_use},
                                                               {5, 0xC0000056, ErrorKind::in_use},
                                                               {5, 0xC0000022, ErrorKind::other},
                                                               {5, 0, ErrorKind::other},
                                                               {32, 0xC0000043, ErrorKind::in_use},
                                                               {183, 0xC0000056, ErrorKind::other},
                                                               {0, 0, ErrorKind::other},
                                                               {10061, 0, ErrorKind::other}};
  for (const auto& [code, status, want] : windows)
    EXPECT_EQ(windows_error_kind(code, status), want) << code << " " << status;

  const auto run = run_captured(tmp / "no-such-program.exe", {});
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error_kind(), ErrorKind::not_found);
  EXPECT_EQ(run.error(), not_found_error().text);
}
}  // namespace nm::os
