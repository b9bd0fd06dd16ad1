#include "doctor/doctor.hpp"

#include <gtest/gtest.h>
#include <tuple>

#include "support/doctor.hpp"
#include "support/fixtures.hpp"

namespace nm::doctor {
TEST(DoctorDataDir, SourceAndStateWithoutMovingAnything) {
  TempFolder t;
  const fs::path exe = t / "app" / "nmhost-doctor", data = t / "app" / "data";
  const fs::path roaming = t / "roaming", legacy = roaming / "varquel";
  const fs::path product = roaming / "qartorvaneldownloadmanager";
  put(t / "file", "x");
  fs::create_directories(roaming);
  // The folder made before the check, the variable, whether there is a roaming folder.
  const std::tuple<const fs::path*, std::optional<std::string>, bool, std::string> cases[] = {
      {&data, utf8(t / "missing"), true, "warning data directory"},  // the variable wins
      {nullptr, utf8(t / "file"), true, "problem data directory"},
      {nullptr, "", true, "warning data directory"},
      {&data, {}, true, "ok data directory"},
      {nullptr, {}, true, "warning data directory"},  // roaming, nothing there yet
      {&legacy, {}, true, "ok data directory, warning legacy folder"},
      {&product, {}, true, "ok data directory, warning legacy folder"},  // left over beside it
      {nullptr, {}, false, "problem data directory"}};
  for (const auto& [folder, variable, has_roaming, want] : cases) {
    fs::remove_all(data);
    if (folder) fs::create_directories(*folder);
    Report r;
    check_data_dir(
        locate_data_dir(variable, exe, has_roaming ? std::optional(roaming) : std::nullopt), r);
    EXPECT_EQ(outline(r), want) << variable.value_or("-") << " " << has_roaming;
  }
  Report empty;
  check_data_dir(locate_data_dir("", exe, roaming), empty);
  EXPECT_TRUE(empty.checks.at(0).explanation.starts_with("QTM_DATA_DIR is set but empty"));
  // A pending move is reported, not made; the files are read where they are.
  fs::remove_all(product);
  EXPECT_EQ(files_dir(locate_data_dir(std::nullopt, exe, roaming)), legacy);
  EXPECT_FALSE(fs::exists(product));
#ifndef _WIN32
  // A data folder that even the superuser cannot write into is not portable.
  fs::create_directory_symlink("/proc/self", data);
  Report r;
  check_data_dir(locate_data_dir(std::nullopt, exe, roaming), r);
  EXPECT_EQ(r.checks.at(0).name, "portable folder");
#endif
}

TEST(DoctorFiles, HostExtensionSeenAndLog) {
  EXPECT_EQ(expected_host("/a/nmhost-doctor.exe"), fs::path("/a/nmhost.exe"));
  TempFolder t;
  Report r;
  check_host_program(t / "nmhost", r);
  for (const char* seen : {"", "\xFF", "Google Chrome\t2.0\n\t1.0\nZen Browser\n", "Opera\t\n"}) {
    if (*seen) put(t / "extension-seen", seen);
    check_extension_seen(t.path(), r);
  }
  check_log(t.path(), r);
  std::string log;
  for (int i = 1; i <= 25; ++i) log += "line " + std::to_string(i) + "\r\n";
  for (const std::string& text : {std::string(), std::string("one\n"), std::string("a\nb"), log}) {
    put(t / "logs" / "qtm.log", text);
    check_log(t.path(), r);
  }
  EXPECT_EQ(outline(r),
            "problem nmhost, warning extension-seen, warning extension-seen, "
            "ok extension-seen, ok extension-seen, ok log, ok log, ok log, ok log, ok log");
  EXPECT_TRUE(r.checks[3].explanation.starts_with("3 browsers ran"));
  EXPECT_TRUE(r.checks[4].explanation.starts_with("1 browser ran"));
  for (const auto& [at, end] : {std::pair{6, " is empty"},
                                {7, ", its only line:"},
                                {8, ", all 2 lines:"},
                                {9, ", the last 20 lines:"}})
    EXPECT_TRUE(r.checks[at].explanation.ends_with(end)) << r.checks[at].explanation;
  EXPECT_EQ(r.checks[3].details, (Lines{"Google Chrome: extension 2.0",
                                        "a browser the host does not recognise: extension 1.0",
                                        "Zen Browser: an extension that gave no version"}));
  ASSERT_EQ(r.log_tail.size(), 20u);
  EXPECT_EQ(r.log_tail.front(), "line 6");
  EXPECT_EQ(r.log_tail.back(), "line 25");
  EXPECT_EQ(last_lines("a\n\n\xFFz", 5), (Lines{"a", "", "\xEF\xBF\xBDz"}));
}
}  // namespace nm::doctor
