#ifdef _WIN32
#include "os/fs.hpp"

#include <gtest/gtest.h>

#include "support/fixtures.hpp"

namespace nm::os {
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
}  // namespace nm::os
#endif
