#include "host/deliver.hpp"

#include <gtest/gtest.h>
#include <tuple>

#include "support/fixtures.hpp"
#include "support/standin.hpp"

namespace nm::host {
// A program that ends at once failed to start; Safari's mode starts only a bundle.
TEST(Deliver, ProgramThatEndsAtOnceIsNotStarted) {
  TempFolder dir;  // bin/ holds the host and app-path, data/ is the data directory
  const ScopedEnv data("QTM_DATA_DIR", os::path_display(dir / "data"));
  const ScopedEnv args("QTM_STANDIN_ARGS", "--exit-at-once");
  const fs::path host = dir / "bin" / ("nmhost" + standin_path().extension().string());
  ASSERT_TRUE(os::make_dirs(dir / "bin"));
  ASSERT_TRUE(os::write_file(dir / "bin" / kAppPathFile, os::path_display(standin_path())));
  EXPECT_EQ(deliver_to_app({}, {{}, host, true}),
            Outcome::not_running(os::path_display(host) + " is in no app"));
  const std::tuple<StartTimings, int64_t, int64_t> cases[] = {{{}, 5000, 9000},
                                                              {{50, 1000, 60000}, 1000, 4000}};
  for (const auto& [timings, at_least_ms, below_ms] : cases) {
    const int64_t start = now_ms();
    EXPECT_EQ(deliver_to_app({}, {timings, host}), Outcome::not_running(std::string(kDidNotStart)));
    EXPECT_GE(now_ms() - start, at_least_ms);
    EXPECT_LT(now_ms() - start, below_ms);
  }
}

TEST(FindAppBundle, TheInnermostBundleOfTheProgram) {
  const std::pair<const char*, const char*> found[] = {
      {"/a/Outer.app/Inner.app/Contents/MacOS/nmhost", "/a/Outer.app/Inner.app"},
      {"/a/tool.app", "/a/tool.app"},
      {"rel/y.app/nmhost", "rel/y.app"},
      {"/a/b.c.app/nmhost", "/a/b.c.app"}};
  for (const auto& [exe, want] : found) EXPECT_EQ(find_app_bundle(exe), fs::path(want)) << exe;
  for (const char* exe : {"/a/.app/nmhost", "/a/x.App/nmhost", "/a/x.xpp/nmhost", "/a/x.axp/nmhost",
                          "/a/x.apx/nmhost", "/a/x.apps/nmhost", "/a/x.app.bak/nmhost",
                          "/a/app/nmhost", "/a/../nmhost", "/usr/local/bin/nmhost", "nmhost"})
    EXPECT_EQ(find_app_bundle(exe), std::nullopt) << exe;
}

TEST(ProgramToStart, AppPathOrTheDefault) {
  const fs::path dir = fs::path("install");
  // Blank, or not UTF-8: the default.
  for (const char* content : {"", " \r\n\t\n", "\xe3\x80\x80\xc2\xa0", "\xff/opt/q/app"})
    EXPECT_EQ(program_to_start(dir, content), dir / "qartorvaneldownloadmanager.exe") << content;
  EXPECT_EQ(program_to_start(dir, "\n\n  /opt/q/my app  \r\n\n"), fs::path("/opt/q/my app"));
  EXPECT_EQ(program_to_start(dir, "\xe3\x80\x80/opt/q\xc2\xa0"), fs::path("/opt/q"));
  // A relative path is the installation's, whatever folder the host runs in.
  EXPECT_EQ(program_to_start(dir, "\xef\xbb\xbf/opt/q\n"),
            dir / os::path_from_utf8("\xef\xbb\xbf/opt/q"));
#ifdef _WIN32
  // Drive-relative: the host's folder on its own drive; another drive's
  // current folder, which Windows keeps, elsewhere.
  EXPECT_EQ(program_to_start(L"D:\\inst", "D:sub\\app.exe"), fs::path(L"D:\\inst\\sub\\app.exe"));
  EXPECT_EQ(program_to_start(L"D:\\inst", "C:sub\\app.exe"), fs::path(L"C:sub\\app.exe"));
#endif
}
}  // namespace nm::host
