#include "nmhost/deliver.hpp"

#include <gtest/gtest.h>

#include "platform/fs.hpp"

namespace nm::host {
namespace {

TEST(FindAppBundle, NearestFolderWithTheAppExtension) {
  const struct {
    const char* exe;
    std::optional<fs::path> want;
  } cases[] = {
      {"/Applications/Torvanel.app/Contents/MacOS/nmhost", fs::path("/Applications/Torvanel.app")},
      {"/a/Outer.app/Inner.app/Contents/MacOS/nmhost", fs::path("/a/Outer.app/Inner.app")},
      {"/a/tool.app", fs::path("/a/tool.app")},
      {"rel/y.app/nmhost", fs::path("rel/y.app")},
      {"/a/b.c.app/nmhost", fs::path("/a/b.c.app")},
      {"/a/.app/nmhost", std::nullopt},
      {"/a/x.App/nmhost", std::nullopt},
      {"/a/x.apps/nmhost", std::nullopt},
      {"/a/x.app.bak/nmhost", std::nullopt},
      {"/a/app/nmhost", std::nullopt},
      {"/a/../nmhost", std::nullopt},
      {"/usr/local/bin/nmhost", std::nullopt},
      {"nmhost", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(find_app_bundle(c.exe), c.want) << c.exe;
}

TEST(ProgramToStart, AppPathTrimmedOrTheDefault) {
  const fs::path dir = fs::path("install");
  const fs::path def = dir / "qartorvaneldownloadmanager.exe";
  const struct {
    std::optional<std::string> content;
    fs::path want;
  } cases[] = {
      {std::nullopt, def},
      {"", def},
      {" \r\n\t\n", def},
      {"\xe3\x80\x80\xc2\xa0", def},
      {"\xff/opt/q/app", def},  // not UTF-8
      {"\n\n  /opt/q/my app  \r\n\n", fs::path("/opt/q/my app")},
      {"\xe3\x80\x80/opt/q\xc2\xa0", fs::path("/opt/q")},
      {"\xef\xbb\xbf/opt/q\n", os::path_from_utf8("\xef\xbb\xbf/opt/q")},
  };
  for (const auto& c : cases)
    EXPECT_EQ(program_to_start(dir, c.content), c.want) << c.content.value_or("(none)");
}

}  // namespace
}  // namespace nm::host
