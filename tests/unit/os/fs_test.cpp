#include "os/fs.hpp"

#include <gtest/gtest.h>

#include "support/fixtures.hpp"

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
#endif
}  // namespace nm::os
