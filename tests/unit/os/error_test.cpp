#include "os/error.hpp"

#include <gtest/gtest.h>

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
  const auto run = run_captured(tmp / "no-such-program.exe", {});
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error_kind(), ErrorKind::not_found);
  EXPECT_EQ(run.error(), not_found_error().text);
}
}  // namespace nm::os
