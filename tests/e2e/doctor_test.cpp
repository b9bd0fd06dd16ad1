// nmhost-doctor where it needs real processes, files and registry (verdicts: unit).
#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <regex>

#include "harness.hpp"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

// Folders with an ideographic space and an emoji (a UTF-16 surrogate pair), a
// registered host that has talked to a browser, a stale ipc.json: only warnings.
struct Installation {
  TempFolder base;
  fs::path dir = base.path() / "nm\u3000\U0001F4E6 host",
           data = base.path() / "data\u3000\U0001F4E6", exe = dir / host_exe().filename(),
           doctor = dir / build_exe("nmhost-doctor").filename();
  // A port nothing listens on any more, and a process id no system hands out.
  std::string port = std::to_string(stale_port());

  Installation() {
    fs::create_directories(dir);
    fs::create_directories(data);
    fs::copy_file(host_exe(), exe);
    fs::copy_file(build_exe("nmhost-doctor"), doctor);
    if (under_wine()) {
      clear_wine_registry();
      EXPECT_EQ(run_in(exe, {"--register"}).exit_code, 0);
    }
    const std::string ua = R"("userAgent":"Mozilla/5.0 Chrome/120.0 Safari/537.36")";
    const auto host = run_in(
        exe, {kOrigin},
        frame(R"({"hello":true,"v":"2.0",)" + ua + "}") +
            frame(R"({"declined":{"why":"file-type","name":"a.zip"},"v":"2.0",)" + ua + "}"));
    EXPECT_EQ(split_frames(host.out).size(), 2u) << host.err;
    write_text(data / "downloads.json",
               R"({"settings": {"browsers": [["Mozilla Firefox", false]]}})");
    write_text(data / "ipc.json", R"({"port":)" + port + R"(,"token":"t","pid":99999996})");
  }
  ~Installation() {
    if (under_wine()) clear_wine_registry();
  }
  RunResult run_in(const fs::path& program, Lines args, std::string input = "") const {
    return run({std::move(args), std::move(input), {{"QTM_DATA_DIR", host_path(data)}}, program});
  }
  // The check lines expected, in order.
  static Lines outline() {
    Lines expected = {"ok nmhost",
                      "ok data directory",
                      "ok downloads.json",
                      "ok capture options",
                      "ok ipc.json",
                      "warning application port",
                      "warning application process"};
    for (const std::string family : {"Chrome", "Chromium", "Edge", "Brave", "Firefox"})
      if (under_wine()) expected.push_back("ok " + family + " in HKCU");
    if (!under_wine()) expected.push_back("ok registration");
    expected.insert(expected.end(), {"ok extension-seen", "ok log"});
    return expected;
  }
};

// Check lines: a verdict padded to nine columns, the name, ": " and why.
TEST(Doctor, Reports) {
  const Installation in;
  const auto r = in.run_in(in.doctor, {});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.err, "");
  Lines outline;
  std::map<std::string, std::string> why;
  static const std::regex check("(ok|warning|problem) +([^:]+): (.*)");
  std::smatch m;
  for (const auto& line : lines(r.out))
    if (std::regex_match(line, m, check) && m.position(2) == 9) {
      outline.push_back(m[1].str() + " " + m[2].str());
      why[m[2]] = m[3];
    }
  EXPECT_EQ(outline, Installation::outline()) << r.out;
  EXPECT_EQ(why["nmhost"], host_path(in.exe));
  EXPECT_EQ(why["data directory"],
            host_path(in.data) + " (named by the environment variable QTM_DATA_DIR)");
  EXPECT_TRUE(why["application port"].starts_with("nothing listens on 127.0.0.1:" + in.port + " ("))
      << why["application port"];
  EXPECT_EQ(why["application process"], "process 99999996 is not running");
  EXPECT_NE(r.out.find("\n           Google Chrome: extension 2.0\n"), std::string::npos) << r.out;
  if (under_wine()) {
    EXPECT_EQ(why["Chrome in HKCU"],
              "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com."
              "qartorvaneldownloadmanager.host names " +
                  host_path(in.dir / "com.qartorvaneldownloadmanager.host.json") +
                  ", through which Chrome starts " + host_path(in.exe));
  }

  // The same installation as one JSON object for a support ticket.
  const auto j = in.run_in(in.doctor, {"--json"});
  EXPECT_EQ(j.exit_code, 0);
  ASSERT_EQ(j.out.find('\n'), j.out.size() - 1) << "one line";
  boost::json::value v;
  ASSERT_NO_THROW(v = boost::json::parse(j.out)) << j.out;
  EXPECT_EQ(v.at("program"), "nmhost-doctor");
  EXPECT_EQ(v.at("data_dir"), boost::json::string(host_path(in.data)));
  EXPECT_EQ(v.at("data_dir_source"), "QTM_DATA_DIR");
  EXPECT_EQ(boost::json::serialize(v.at("options").at("browsers")),
            R"([["Mozilla Firefox",false]])");
  EXPECT_EQ(v.at("extension_seen").at(0).at("browser"), "Google Chrome");
  const std::string tail(v.at("log_tail").at(0).as_string());
  EXPECT_TRUE(tail.ends_with(": Google Chrome keeps a.zip: its type isn't in Options > File types"))
      << tail;
  EXPECT_EQ(v.at("checks").as_array().size(), Installation::outline().size());
  EXPECT_EQ(v.at("problems"), 0);
  // A portable installation is not registered, whatever QTM_DATA_DIR names.
  fs::create_directory(in.dir / "data");
  const std::string report = in.run_in(in.doctor, {}).out;
  EXPECT_NE(report.find(under_wine() ? "\nwarning  registration: " : "\nok       registration: "),
            std::string::npos);
}

TEST(Doctor, HelpAndAnUnknownOption) {
  const auto help = run({.args = {"--help"}, .exe = build_exe("nmhost-doctor")});
  const auto unknown = run({.args = {"--json", "--fix"}, .exe = build_exe("nmhost-doctor")});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: nmhost-doctor [--json]\n") && help.err.empty());
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_TRUE(unknown.out.empty() &&
              unknown.err.starts_with("nmhost-doctor: unknown option --fix\n\nUsage: "))
      << unknown.err;
}

}  // namespace
}  // namespace e2e
