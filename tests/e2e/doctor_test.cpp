// nmhost-doctor against a copy of the built host and doctor: what needs a
// real process, file system and registry. Its verdicts are unit-tested.
#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <sstream>

#include "harness.hpp"
#include "platform/net.hpp"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

// Check lines are a verdict padded to nine columns, the name, ": " and the
// explanation: "verdict name" in order, and each explanation by name.
struct Said {
  Lines outline;
  std::map<std::string, std::string> why;
  explicit Said(const std::string& out) {
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
      const std::string verdict = line.substr(0, line.find(' '));
      const size_t colon = line.find(": ");
      if ((verdict != "ok" && verdict != "warning" && verdict != "problem") ||
          line.find_first_not_of(' ', verdict.size()) != 9 || colon == std::string::npos)
        continue;
      outline.push_back(verdict + " " + line.substr(9, colon - 9));
      why[line.substr(9, colon - 9)] = line.substr(colon + 2);
    }
  }
};

class Doctor : public testing::Test {
 protected:
  // An ideographic space and an emoji (a surrogate pair in UTF-16) in both folders.
  TempDir base_;
  fs::path dir_ = base_.path() / "nm\u3000\U0001F4E6 host",
           data_ = base_.path() / "data\u3000\U0001F4E6";
  fs::path exe_ = dir_ / host_exe().filename(), doctor_ = dir_ / doctor_exe().filename();

  void SetUp() override {
    fs::create_directories(dir_);
    fs::create_directories(data_);
    fs::copy_file(host_exe(), exe_);
    fs::copy_file(doctor_exe(), doctor_);
    if (under_wine()) clear_registry();
  }
  void TearDown() override {
    if (under_wine()) clear_registry();
  }
  static void clear_registry() {
    const auto error = clear_wine_registry();
    ASSERT_EQ(error, std::nullopt) << *error;
  }
  RunResult run_in(const fs::path& exe, Lines args, std::string input = "") const {
    RunOptions o;
    o.args = std::move(args);
    o.input = std::move(input);
    o.exe = exe;
    o.env["QTM_DATA_DIR"] = host_path(data_);
    return run(o);
  }
};

TEST_F(Doctor, HelpAndUnknownOptions) {
  const struct {
    Lines args;
    int exit_code;
    std::string out, err;
  } cases[] = {{{"--help"}, 0, "Usage: nmhost-doctor [--json]\n", ""},
               {{"--json", "--fix"}, 1, "", "nmhost-doctor: unknown option --fix\n\nUsage: "}};
  for (const auto& c : cases) {
    const auto r = run_in(doctor_, c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_TRUE(r.out.starts_with(c.out) && r.out.empty() == c.out.empty()) << r.out;
    EXPECT_TRUE(r.err.starts_with(c.err) && r.err.empty() == c.err.empty()) << r.err;
  }
}

// A registered host that has talked to a browser, and a stale endpoint file:
// only warnings, in text and in JSON.
TEST_F(Doctor, HealthyInstallationInTextAndJson) {
  if (under_wine()) {
    ASSERT_EQ(run_in(exe_, {"--register"}).exit_code, 0);
  }
  const std::string ua = R"("userAgent":"Mozilla/5.0 Chrome/120.0 Safari/537.36")";
  const auto host =
      run_in(exe_, {kOrigin},
             frame(R"({"hello":true,"v":"2.0",)" + ua + "}") +
                 frame(R"({"declined":{"why":"file-type","name":"a.zip"},"v":"2.0",)" + ua + "}"));
  ASSERT_EQ(split_frames(host.out).size(), 2u) << host.err;
  // A port nothing listens on any more, and a process id no system hands out.
  uint16_t port = 0;
  {
    auto listener = nm::os::TcpListener::bind_loopback();
    ASSERT_TRUE(listener.ok()) << listener.error();
    port = listener->port();
  }
  write_text(data_ / "downloads.json",
             R"({"settings": {"browsers": [["Mozilla Firefox", false]]}})");
  write_text(data_ / "ipc.json",
             "{\"port\":" + std::to_string(port) + ",\"token\":\"t\",\"pid\":99999996}");

  const auto r = run_in(doctor_, {});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.err, "");
  Said said(r.out);
  Lines expected = {
      "ok nmhost",   "ok data directory",        "ok downloads.json",          "ok capture options",
      "ok ipc.json", "warning application port", "warning application process"};
  for (const char* family : {"Chrome", "Chromium", "Edge", "Brave", "Firefox"})
    if (under_wine()) expected.push_back("ok " + std::string(family) + " in HKCU");
  if (!under_wine()) expected.push_back("ok registration");
  expected.insert(expected.end(), {"ok extension-seen", "ok log"});
  EXPECT_EQ(said.outline, expected) << r.out;
  EXPECT_EQ(said.why["nmhost"], host_path(exe_));
  EXPECT_EQ(said.why["data directory"],
            host_path(data_) + " (named by the environment variable QTM_DATA_DIR)");
  const std::string where = "nothing listens on 127.0.0.1:" + std::to_string(port) + " (";
  EXPECT_TRUE(said.why["application port"].starts_with(where)) << said.why["application port"];
  EXPECT_EQ(said.why["application process"], "process 99999996 is not running");
  EXPECT_NE(r.out.find("\n           Google Chrome: extension 2.0\n"), std::string::npos) << r.out;
  if (under_wine()) {
    EXPECT_EQ(said.why["Chrome in HKCU"],
              "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com."
              "qartorvaneldownloadmanager.host names " +
                  host_path(dir_ / "com.qartorvaneldownloadmanager.host.json") +
                  ", through which Chrome starts " + host_path(exe_));
  }

  const auto j = run_in(doctor_, {"--json"});
  ASSERT_EQ(j.out.find('\n'), j.out.size() - 1) << "one line";
  boost::json::value v;
  ASSERT_NO_THROW(v = boost::json::parse(j.out)) << j.out;
  EXPECT_EQ(v.at("program"), "nmhost-doctor");
  EXPECT_EQ(v.at("data_dir").as_string(), host_path(data_));
  EXPECT_EQ(v.at("data_dir_source"), "QTM_DATA_DIR");
  EXPECT_EQ(v.at("options").at("auto_types").as_string().size(), 1323u);
  EXPECT_EQ(boost::json::serialize(v.at("options").at("browsers")),
            R"([["Mozilla Firefox",false]])");
  EXPECT_EQ(v.at("extension_seen").at(0).at("browser"), "Google Chrome");
  ASSERT_EQ(v.at("log_tail").as_array().size(), 1u);
  EXPECT_TRUE(v.at("log_tail")
                  .at(0)
                  .as_string()
                  .ends_with("browser integration: Google Chrome keeps a.zip: its type isn't in "
                             "Options > File types"));
  EXPECT_EQ(v.at("checks").as_array().size(), expected.size());
  EXPECT_EQ(v.at("problems"), 0);
  EXPECT_EQ(j.exit_code, 0);
}

}  // namespace
}  // namespace e2e
