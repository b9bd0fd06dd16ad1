#include "os/fs.hpp"

#include <gtest/gtest.h>

#include "support/fixtures.hpp"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace nm::os {
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
#else
// XDG_CONFIG_HOME counts only when it is an absolute path.
TEST(RoamingAppData, XdgConfigHomeElseHomeConfig) {
  const ScopedEnv home("HOME", "/h");
  const std::pair<std::optional<std::string>, const char*> cases[] = {
      {"/x", "/x"}, {"x/y", "/h/.config"}, {"", "/h/.config"}, {std::nullopt, "/h/.config"}};
  for (const auto& [xdg, want] : cases) {
    const ScopedEnv config("XDG_CONFIG_HOME", xdg);
    EXPECT_EQ(roaming_app_data(), fs::path(want)) << xdg.value_or("-");
  }
  const ScopedEnv no_config("XDG_CONFIG_HOME", std::nullopt), no_home("HOME", "");
  EXPECT_EQ(roaming_app_data(), std::nullopt);
}

// A program started with standard input closed gets 0 for the next file it opens.
TEST(Files, DescriptorZeroIsOneLikeAnyOther) {
  TempFolder tmp;
  const int saved = ::dup(0);
  ::close(0);
  const Status wrote = write_file(tmp / "w", "x"), made = create_empty_file(tmp / "e");
  const auto read = read_file(tmp / "w");
  ::dup2(saved, 0);
  ::close(saved);
  EXPECT_TRUE(wrote && made) << (wrote ? made.error() : wrote.error());
  EXPECT_EQ(read ? *read : read.error(), "x");
}
#endif
}  // namespace nm::os
