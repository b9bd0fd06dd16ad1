#include <gtest/gtest.h>

#include "ipc/extension_ids.hpp"
#include "nmhost/deliver.hpp"
#include "nmhost/manifest.hpp"
#include "nmhost/registration.hpp"
#include "platform/fs.hpp"

namespace nm::host {
namespace {

TEST(Registration, RegSearchOrder) {
  const auto p = [](std::string_view s) { return os::path_from_utf8(s); };
  using Paths = std::vector<fs::path>;
  EXPECT_EQ(reg_candidates("reg.exe", p("C:/app"), p("C:/Windows/system32"), p("C:/Windows"),
                           "C:/bin;\"C:/odd;dir\";;D:/tools", os::PathListRules::windows),
            (Paths{p("C:/app/reg.exe"), p("C:/Windows/system32/reg.exe"), p("C:/Windows/reg.exe"),
                   p("C:/bin/reg.exe"), p("C:/odd;dir/reg.exe"), p("D:/tools/reg.exe")}));
  // Missing folders are skipped.
  EXPECT_EQ(reg_candidates("reg.exe", {}, {}, p("C:/Windows"), "", os::PathListRules::windows),
            Paths{p("C:/Windows/reg.exe")});
  // A posix PATH: colons, quotes taken literally, empty entries skipped.
  EXPECT_EQ(reg_candidates("reg.exe", p("/opt/q"), {}, {},
                           ":/usr/bin::/\"x\":", os::PathListRules::posix),
            (Paths{p("/opt/q/reg.exe"), p("/usr/bin/reg.exe"), p("/\"x\"/reg.exe")}));
}

TEST(ExtensionIds, OnlyWellFormedIdsCount) {
  for (const char* id : {"pjgmbkdaieonhfclgkbimepajnodlhfc", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"})
    EXPECT_TRUE(ipc::is_extension_id(id)) << id;
  // q lies past p; upper case; one short, one long.
  for (const char* id : {"pjgmbkdaieonhfclgkbimepajnodlhfq", "Pjgmbkdaieonhfclgkbimepajnodlhfc",
                         "pjgmbkdaieonhfclgkbimepajnodlhf", "pjgmbkdaieonhfclgkbimepajnodlhfcc", "",
                         "EDGE_ADDONS_ID_PENDING"})
    EXPECT_FALSE(ipc::is_extension_id(id)) << id;
}

TEST(Manifest, PathMustBeUtf8) {
#ifdef _WIN32
  const fs::path bad(std::wstring(L"C:\\q\\\xD800.exe"));
  const fs::path good(std::wstring(L"C:\\q\\\x00E9.exe"));
  const std::string good_json = "C:\\\\q\\\\\xC3\xA9.exe";
#else
  const fs::path bad(std::string("/q/\xFF.exe"));
  const fs::path good(std::string("/q/\xC3\xA9.exe"));
  const std::string good_json = "/q/\xC3\xA9.exe";
#endif
  const auto r = manifest_for(ManifestKind::firefox, bad);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), "path contains invalid UTF-8 characters");
  const auto g = manifest_for(ManifestKind::chromium, good);
  ASSERT_TRUE(g) << g.error();
  EXPECT_NE(g->find("\"path\": \"" + good_json + "\""), std::string::npos) << *g;
}

TEST(Manifest, WriteReplacesTheWholeFile) {
  const fs::path file = fs::temp_directory_path() / "nm-manifest-test.json";
  ASSERT_TRUE(write_manifest(file, "a much longer first content"));
  ASSERT_TRUE(write_manifest(file, "{}"));
  EXPECT_EQ(*os::read_file(file), "{}");
  os::remove_file(file);
}

TEST(FindAppBundle, NearestFolderWithTheAppExtension) {
  const std::pair<const char*, const char*> found[] = {
      {"/Applications/Torvanel.app/Contents/MacOS/nmhost", "/Applications/Torvanel.app"},
      {"/a/Outer.app/Inner.app/Contents/MacOS/nmhost", "/a/Outer.app/Inner.app"},
      {"/a/tool.app", "/a/tool.app"},
      {"rel/y.app/nmhost", "rel/y.app"},
      {"/a/b.c.app/nmhost", "/a/b.c.app"},
  };
  for (const auto& [exe, want] : found) EXPECT_EQ(find_app_bundle(exe), fs::path(want)) << exe;
  for (const char* exe :
       {"/a/.app/nmhost", "/a/x.App/nmhost", "/a/x.apps/nmhost", "/a/x.app.bak/nmhost",
        "/a/app/nmhost", "/a/../nmhost", "/usr/local/bin/nmhost", "nmhost"})
    EXPECT_EQ(find_app_bundle(exe), std::nullopt) << exe;
}

TEST(ProgramToStart, AppPathTrimmedOrTheDefault) {
  const fs::path dir = fs::path("install");
  EXPECT_EQ(program_to_start(dir, std::nullopt), dir / "qartorvaneldownloadmanager.exe");
  // Blank, or not UTF-8: the default.
  for (const char* content : {"", " \r\n\t\n", "\xe3\x80\x80\xc2\xa0", "\xff/opt/q/app"})
    EXPECT_EQ(program_to_start(dir, content), dir / "qartorvaneldownloadmanager.exe") << content;
  EXPECT_EQ(program_to_start(dir, "\n\n  /opt/q/my app  \r\n\n"), fs::path("/opt/q/my app"));
  EXPECT_EQ(program_to_start(dir, "\xe3\x80\x80/opt/q\xc2\xa0"), fs::path("/opt/q"));
  EXPECT_EQ(program_to_start(dir, "\xef\xbb\xbf/opt/q\n"),
            os::path_from_utf8("\xef\xbb\xbf/opt/q"));
}

}  // namespace
}  // namespace nm::host
