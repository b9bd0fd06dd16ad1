// nmhost-doctor against a copy of the built host and doctor. Under Wine the
// registration checks read the (Wine) registry that nmhost.exe --register
// writes; natively they say they apply to Windows only.
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <sstream>

#include "harness.hpp"
#include "platform/net.hpp"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;
const Lines kFamilies = {"Chrome", "Chromium", "Edge", "Brave", "Firefox"};

std::string json_escaped(std::string s) {
  for (size_t i = 0; (i = s.find('\\', i)) != std::string::npos; i += 2) s.insert(i, 1, '\\');
  return s;
}

// The doctor's text: check lines are a verdict padded to nine columns, the
// name, ": " and the explanation. Gives "verdict name" in order, and each
// explanation by name.
struct Said {
  Lines outline;
  std::map<std::string, std::string> why;
  explicit Said(const std::string& out) {
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
      const size_t colon = line.find(": ");
      const std::string verdict = line.substr(0, line.find(' '));
      if ((verdict != "ok" && verdict != "warning" && verdict != "problem") ||
          line.find_first_not_of(' ', verdict.size()) != 9 || colon == std::string::npos)
        continue;
      const std::string name = line.substr(9, colon - 9);
      outline.push_back(verdict + " " + name);
      why[name] = line.substr(colon + 2);
    }
  }
  // The lines about the five browsers.
  Lines registration() const {
    Lines v;
    for (const auto& l : outline) {
      const std::string name = l.substr(l.find(' ') + 1);
      for (const auto& family : kFamilies)
        if (name == family || name.rfind(family + " in ", 0) == 0) v.push_back(l);
    }
    return v;
  }
};

class Doctor : public testing::Test {
 protected:
  void SetUp() override { install("host folder", "data folder"); }
  void TearDown() override {
    if (under_wine()) clear_registry();
    fs::remove_all(base_);
  }
  static void clear_registry() {
    const auto error = clear_wine_registry();
    ASSERT_EQ(error, std::nullopt) << *error;
  }

  // Fresh copies of the host and the doctor in `folder`, and a data folder.
  void install(const std::string& folder, const std::string& data) {
    static int n = 0;
    if (!base_.empty()) fs::remove_all(base_);
    base_ = fs::temp_directory_path() /
            ("nm doctor e2e " + std::to_string(getpid()) + "-" + std::to_string(++n));
    fs::create_directories(base_ / folder);
    dir_ = fs::canonical(base_ / folder);
    exe_ = dir_ / host_exe().filename();
    doctor_ = dir_ / doctor_exe().filename();
    fs::copy_file(host_exe(), exe_);
    fs::copy_file(doctor_exe(), doctor_);
    data_ = base_ / data;
    fs::create_directories(data_);
    if (under_wine()) clear_registry();
  }

  RunResult run_in(const fs::path& exe, Lines args, std::string input = "") const {
    RunOptions o;
    o.args = std::move(args);
    o.input = std::move(input);
    o.exe = exe;
    o.env["QTM_DATA_DIR"] = host_path(data_);
    return run(o);
  }
  RunResult doctor(Lines args = {}) const {
    auto r = run_in(doctor_, std::move(args));
    EXPECT_EQ(r.err, "");
    return r;
  }
  void register_host() const { ASSERT_EQ(run_in(exe_, {"--register"}).exit_code, 0); }

  fs::path base_, dir_, exe_, doctor_, data_;
};

TEST_F(Doctor, HelpAndUnknownOptions) {
  const auto help = doctor({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("Usage: nmhost-doctor [--json]\n", 0), 0u) << help.out;
  const auto bad = run_in(doctor_, {"--fix"});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err.rfind("nmhost-doctor: unknown option --fix\n", 0), 0u) << bad.err;
}

TEST_F(Doctor, AfterRegistrationEverythingIsFine) {
  if (under_wine()) register_host();
  const auto r = doctor();
  EXPECT_EQ(r.exit_code, 0) << r.out;
  const Said said(r.out);
  Lines expected = {"ok nmhost", "ok data directory", "ok downloads.json", "ok capture options",
                    "warning ipc.json"};
  for (const auto& family : kFamilies)
    if (under_wine()) expected.push_back("ok " + family + " in HKCU");
  if (!under_wine()) expected.push_back("ok registration");
  expected.insert(expected.end(), {"warning extension-seen", "ok log"});
  EXPECT_EQ(said.outline, expected) << r.out;
  EXPECT_EQ(said.why.at("nmhost"), host_path(exe_));
  EXPECT_EQ(said.why.at("data directory"),
            host_path(data_) + " (named by the environment variable QTM_DATA_DIR)");
  if (!under_wine()) return;
  EXPECT_EQ(said.why.at("Chrome in HKCU"),
            "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com."
            "qartorvaneldownloadmanager.host names " +
                host_path(dir_ / "com.qartorvaneldownloadmanager.host.json") +
                ", through which Chrome starts " + host_path(exe_));
}

TEST_F(Doctor, AfterUnregistrationEachBrowserIsAProblem) {
  if (!under_wine()) GTEST_SKIP() << "registration is checked on Windows only";
  register_host();
  ASSERT_EQ(run_in(exe_, {"--unregister"}).exit_code, 0);
  const auto r = doctor();
  EXPECT_EQ(r.exit_code, 1);
  const Said said(r.out);
  EXPECT_EQ(said.registration(), (Lines{"problem Chrome", "problem Chromium", "problem Edge",
                                        "problem Brave", "problem Firefox"}))
      << r.out;
  EXPECT_EQ(said.why.at("Edge"),
            "not registered: neither "
            "HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.qartorvaneldownloadmanager."
            "host nor "
            "HKLM\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.qartorvaneldownloadmanager."
            "host exists, so Edge cannot start the host; run nmhost.exe --register");
}

TEST_F(Doctor, ManifestPathPointingElsewhere) {
  if (!under_wine()) GTEST_SKIP() << "registration is checked on Windows only";
  register_host();
  const fs::path other = base_ / "old copy" / exe_.filename();
  fs::create_directories(other.parent_path());
  fs::copy_file(exe_, other);
  const fs::path manifest = dir_ / "com.qartorvaneldownloadmanager.host.json";
  std::string text = read_text(manifest);
  const std::string from = json_escaped(host_path(exe_));
  ASSERT_NE(text.find(from), std::string::npos) << text;
  text.replace(text.find(from), from.size(), json_escaped(host_path(other)));
  write_text(manifest, text);

  const auto r = doctor();
  EXPECT_EQ(r.exit_code, 1);
  const Said said(r.out);
  EXPECT_EQ(said.registration(),
            (Lines{"problem Chrome in HKCU", "problem Chromium in HKCU", "problem Edge in HKCU",
                   "problem Brave in HKCU", "ok Firefox in HKCU"}))
      << r.out;
  EXPECT_NE(said.why.at("Brave in HKCU")
                .find("the manifest's \"path\" " + host_path(other) +
                      " is not this installation's host " + host_path(exe_) +
                      "; run nmhost.exe --register to write it afresh"),
            std::string::npos)
      << said.why.at("Brave in HKCU");
}

TEST_F(Doctor, BrokenSettingsFileShowsTheReadersError) {
  write_text(data_ / "downloads.json",
             "{\"settings\": {\"video_panel\": false,\n \"capture_min_kb\": -1}}");
  const auto r = doctor();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(Said(r.out).why.at("downloads.json"),
            "discarded: invalid value: integer `-1`, expected u64 at line 2 column 21. Because of "
            "this one error every capture option is at its default, the valid ones included.");
  // The options in effect are the defaults, the valid value included.
  EXPECT_NE(r.out.find("\n           video_panel = true\n"), std::string::npos) << r.out;
}

TEST_F(Doctor, StaleEndpointFile) {
  // A port nothing listens on any more, and a process id no system hands out.
  uint16_t port = 0;
  {
    auto listener = nm::os::TcpListener::bind_loopback();
    ASSERT_TRUE(listener.ok()) << listener.error();
    port = listener->port();
  }
  const std::string where = "127.0.0.1:" + std::to_string(port);
  write_text(data_ / "ipc.json",
             "{\"port\":" + std::to_string(port) + ",\"token\":\"t\",\"pid\":99999996}");
  const auto r = doctor();
  EXPECT_EQ(r.exit_code, under_wine() ? 1 : 0) << "nothing is registered under Wine";
  const Said said(r.out);
  EXPECT_EQ(said.why.at("ipc.json"),
            "valid: port " + std::to_string(port) + ", process id 99999996");
  const std::string& why = said.why.at("application port");
  EXPECT_EQ(why.rfind("nothing listens on " + where + " (", 0), 0u) << why;
  EXPECT_NE(why.find("): ipc.json is stale, left by an application that is no longer running."),
            std::string::npos)
      << why;
  EXPECT_EQ(said.why.at("application process"), "process 99999996 is not running");
  for (const char* name : {"application port", "application process"})
    EXPECT_NE(std::find(said.outline.begin(), said.outline.end(), std::string("warning ") + name),
              said.outline.end());
}

TEST_F(Doctor, JsonReportParsesBack) {
  write_text(data_ / "extension-seen", "Google Chrome\t2.0\nMozilla Firefox\t1.9\n");
  fs::create_directories(data_ / "logs");
  std::string log;
  for (int i = 1; i <= 30; ++i) log += "entry " + std::to_string(i) + "\n";
  write_text(data_ / "logs" / "qtm.log", log);

  const auto r = doctor({"--json"});
  ASSERT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line";
  boost::json::value v;
  ASSERT_NO_THROW(v = boost::json::parse(r.out)) << r.out;
  const auto& o = v.as_object();
  EXPECT_EQ(o.at("program"), "nmhost-doctor");
  EXPECT_EQ(o.at("data_dir").as_string(), host_path(data_));
  EXPECT_EQ(o.at("data_dir_source"), "QTM_DATA_DIR");
  EXPECT_EQ(o.at("options").at("auto_types").as_string().size(), 1323u);
  EXPECT_EQ(o.at("extension_seen").as_array()[1].at("browser"), "Mozilla Firefox");
  const auto& tail = o.at("log_tail").as_array();
  ASSERT_EQ(tail.size(), 20u);
  EXPECT_EQ(tail[0], "entry 11");
  // The counts agree with the checks and with the exit code; under Wine
  // nothing is registered, which names each browser.
  int64_t problems = 0;
  for (const auto& c : o.at("checks").as_array()) problems += c.at("verdict") == "problem";
  EXPECT_EQ(problems, under_wine() ? 5 : 0) << r.out;
  EXPECT_EQ(o.at("problems"), problems);
  EXPECT_EQ(r.exit_code, problems ? 1 : 0);
}

TEST_F(Doctor, NonAsciiFolders) {
  // An ideographic space and an emoji (a surrogate pair in UTF-16) in the
  // program's folder and in the data folder.
  install("nm\u3000\U0001F4E6 host", "data\u3000\U0001F4E6");
  if (under_wine()) register_host();
  // The host keeps its files in the data folder: the browser seen, and a
  // log line for a download the extension left to the browser.
  const std::string ua = R"("userAgent":"Mozilla/5.0 Chrome/120.0 Safari/537.36")";
  const auto host =
      run_in(exe_, {kOrigin},
             frame(R"({"hello":true,"v":"2.0",)" + ua + "}") +
                 frame(R"({"declined":{"why":"file-type","name":"a.zip"},"v":"2.0",)" + ua + "}"));
  EXPECT_EQ(host.exit_code, 0) << host.err;
  EXPECT_EQ(split_frames(host.out).size(), 2u);

  const auto r = doctor();
  EXPECT_EQ(r.exit_code, 0) << r.out;
  const Said said(r.out);
  EXPECT_EQ(said.why.at("nmhost"), host_path(exe_));
  EXPECT_EQ(said.why.at("data directory"),
            host_path(data_) + " (named by the environment variable QTM_DATA_DIR)");
  EXPECT_NE(r.out.find("\n           Google Chrome: extension 2.0\n"), std::string::npos) << r.out;
  for (const auto& line : said.registration()) EXPECT_EQ(line.rfind("ok ", 0), 0u) << r.out;
  EXPECT_EQ(said.registration().size(), under_wine() ? 5u : 0u);

  const auto json = boost::json::parse(doctor({"--json"}).out);
  EXPECT_EQ(json.at("data_dir").as_string(), host_path(data_));
  ASSERT_EQ(json.at("log_tail").as_array().size(), 1u);
  EXPECT_TRUE(json.at("log_tail")
                  .at(0)
                  .as_string()
                  .ends_with("browser integration: Google Chrome keeps a.zip: its type isn't in "
                             "Options > File types"));
}

}  // namespace
}  // namespace e2e
