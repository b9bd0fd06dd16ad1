// nmhost-doctor against a copy of the built host and doctor. Under Wine the
// registration checks read the real (Wine) registry that nmhost.exe
// --register writes; natively they say they apply to Windows only.
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <sstream>

#include "harness.hpp"

namespace e2e {
namespace {

constexpr std::string_view kChromiumFile = "com.qartorvaneldownloadmanager.host.json";
constexpr std::string_view kFirefoxFile = "com.qartorvaneldownloadmanager.host.firefox.json";
const std::vector<std::string> kFamilies = {"Chrome", "Chromium", "Edge", "Brave", "Firefox"};

std::string json_escaped(std::string s) {
  for (size_t i = 0; (i = s.find('\\', i)) != std::string::npos; i += 2) s.insert(i, 1, '\\');
  return s;
}

std::string str(const boost::json::value& v) {
  return std::string(v.as_string());
}

struct Line {
  std::string verdict, name, explanation;
};

// The check lines of the doctor's text: a verdict word, padding, the name,
// ": " and the explanation. Details (indented), the title and the summary
// are left out.
std::vector<Line> check_lines(const std::string& out) {
  std::vector<Line> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    for (const char* word : {"ok", "warning", "problem"}) {
      const std::string w = word;
      if (line.rfind(w + " ", 0) != 0) continue;
      const size_t name_at = line.find_first_not_of(' ', w.size());
      const size_t colon = line.find(": ", name_at);
      if (name_at != 9 || colon == std::string::npos) continue;
      lines.push_back({w, line.substr(name_at, colon - name_at), line.substr(colon + 2)});
    }
  }
  return lines;
}

std::vector<std::string> outline(const std::string& out) {
  std::vector<std::string> v;
  for (const auto& l : check_lines(out)) v.push_back(l.verdict + " " + l.name);
  return v;
}

const Line* find_line(const std::vector<Line>& lines, std::string_view name) {
  for (const auto& l : lines)
    if (l.name == name) return &l;
  return nullptr;
}

class Doctor : public testing::Test {
 protected:
  void SetUp() override {
    install("host folder", "data folder");
    if (under_wine()) clear_registry();
  }

  void TearDown() override {
    if (under_wine()) clear_registry();
    fs::remove_all(base_);
  }

  static void clear_registry() {
    const auto error = clear_wine_registry();
    ASSERT_EQ(error, std::nullopt) << *error;
  }

  // A fresh copy of the host and the doctor in `folder`, and a data folder.
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
  }

  RunResult run_program(const fs::path& exe, std::vector<std::string> args,
                        std::string input = "") const {
    RunOptions o;
    o.args = std::move(args);
    o.input = std::move(input);
    o.exe = exe;
    o.env["QTM_DATA_DIR"] = host_path(data_);
    return run(o);
  }
  RunResult host(std::vector<std::string> args, std::string input = "") const {
    return run_program(exe_, std::move(args), std::move(input));
  }
  RunResult doctor(std::vector<std::string> args = {}) const {
    auto r = run_program(doctor_, std::move(args));
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.err, "");
    return r;
  }

  void register_host() const {
    const auto r = host({"--register"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }

  // What the doctor says about the five browsers: one line each.
  std::vector<std::string> registration_outline(const std::string& out) const {
    std::vector<std::string> v;
    for (const auto& l : check_lines(out))
      for (const auto& family : kFamilies)
        if (l.name == family || l.name.rfind(family + " in ", 0) == 0)
          v.push_back(l.verdict + " " + l.name);
    return v;
  }

  fs::path base_, dir_, exe_, doctor_, data_;
};

TEST_F(Doctor, HelpAndUnknownOptions) {
  const auto help = doctor({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("Usage: nmhost-doctor [--json]\n", 0), 0u) << help.out;
  RunOptions o;
  o.exe = doctor_;
  o.args = {"--fix"};
  const auto bad = run(o);
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err.rfind("nmhost-doctor: unknown option --fix\n", 0), 0u) << bad.err;
}

TEST_F(Doctor, AfterRegistrationEverythingIsFine) {
  if (under_wine()) register_host();
  const auto r = doctor();
  EXPECT_EQ(r.exit_code, 0) << r.out;
  std::vector<std::string> expected = {"ok nmhost", "ok data directory"};
  if (under_wine()) {
    for (const auto& family : kFamilies) expected.push_back("ok " + family + " in HKCU");
  } else {
    expected.push_back("ok registration");
  }
  expected.insert(expected.end(), {"warning extension-seen", "ok log"});
  EXPECT_EQ(outline(r.out), expected) << r.out;
  const auto lines = check_lines(r.out);
  const Line* host_line = find_line(lines, "nmhost");
  ASSERT_NE(host_line, nullptr) << r.out;
  EXPECT_EQ(host_line->explanation, host_path(exe_));
  const Line* data_line = find_line(lines, "data directory");
  ASSERT_NE(data_line, nullptr) << r.out;
  EXPECT_EQ(data_line->verdict, "ok");
  EXPECT_EQ(data_line->explanation,
            host_path(data_) + " (named by the environment variable QTM_DATA_DIR)");
  if (!under_wine()) return;
  const Line* chrome = find_line(lines, "Chrome in HKCU");
  EXPECT_EQ(chrome->explanation,
            "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com."
            "qartorvaneldownloadmanager.host names " +
                host_path(dir_ / kChromiumFile) + ", through which Chrome starts " +
                host_path(exe_));
  EXPECT_NE(find_line(lines, "Firefox in HKCU")->explanation.find(host_path(dir_ / kFirefoxFile)),
            std::string::npos);
}

TEST_F(Doctor, AfterUnregistrationEachBrowserIsAProblem) {
  if (!under_wine()) GTEST_SKIP() << "registration is checked on Windows only";
  register_host();
  ASSERT_EQ(host({"--unregister"}).exit_code, 0);
  const auto r = doctor();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(registration_outline(r.out),
            (std::vector<std::string>{"problem Chrome", "problem Chromium", "problem Edge",
                                      "problem Brave", "problem Firefox"}))
      << r.out;
  EXPECT_EQ(find_line(check_lines(r.out), "Edge")->explanation,
            "not registered: neither "
            "HKCU\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.qartorvaneldownloadmanager."
            "host nor "
            "HKLM\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.qartorvaneldownloadmanager."
            "host exists, so Edge cannot start the host; run nmhost.exe --register");
}

TEST_F(Doctor, ManifestPathPointingElsewhere) {
  if (!under_wine()) GTEST_SKIP() << "registration is checked on Windows only";
  register_host();
  // Another copy of the host, which the Chromium manifest now names.
  fs::create_directories(base_ / "old copy");
  fs::copy_file(exe_, base_ / "old copy" / exe_.filename());
  const std::string manifest = read_text(dir_ / kChromiumFile);
  const std::string from = json_escaped(host_path(exe_));
  const size_t at = manifest.find(from);
  ASSERT_NE(at, std::string::npos) << manifest;
  std::string moved = manifest;
  moved.replace(at, from.size(), json_escaped(host_path(base_ / "old copy" / exe_.filename())));
  write_text(dir_ / kChromiumFile, moved);

  const auto r = doctor();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(registration_outline(r.out),
            (std::vector<std::string>{"problem Chrome in HKCU", "problem Chromium in HKCU",
                                      "problem Edge in HKCU", "problem Brave in HKCU",
                                      "ok Firefox in HKCU"}))
      << r.out;
  const std::string& why = find_line(check_lines(r.out), "Brave in HKCU")->explanation;
  EXPECT_NE(why.find("the manifest's \"path\" " + host_path(base_ / "old copy" / exe_.filename()) +
                     " is not this installation's host " + host_path(exe_)),
            std::string::npos)
      << why;
  EXPECT_NE(why.find("run nmhost.exe --register to write it afresh"), std::string::npos) << why;
}

TEST_F(Doctor, JsonReportParsesBack) {
  write_text(data_ / "extension-seen", "Google Chrome\t2.0\nMozilla Firefox\t1.9\n");
  fs::create_directories(data_ / "logs");
  std::string log;
  for (int i = 1; i <= 30; ++i) log += "entry " + std::to_string(i) + "\n";
  write_text(data_ / "logs" / "qtm.log", log);

  const auto r = doctor({"--json"});
  ASSERT_EQ(r.out.back(), '\n');
  ASSERT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line";
  boost::json::value v;
  ASSERT_NO_THROW(v = boost::json::parse(r.out)) << r.out;
  const auto& o = v.as_object();
  EXPECT_EQ(o.at("program"), "nmhost-doctor");
  EXPECT_EQ(str(o.at("data_dir")), host_path(data_));
  EXPECT_EQ(o.at("data_dir_source"), "QTM_DATA_DIR");
  const auto& seen = o.at("extension_seen").as_array();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].at("browser"), "Mozilla Firefox");
  EXPECT_EQ(seen[1].at("version"), "1.9");
  const auto& tail = o.at("log_tail").as_array();
  ASSERT_EQ(tail.size(), 20u);
  EXPECT_EQ(tail[0], "entry 11");
  EXPECT_EQ(tail[19], "entry 30");

  // The counts agree with the checks and with the exit code.
  int64_t problems = 0, warnings = 0;
  for (const auto& c : o.at("checks").as_array()) {
    const auto& verdict = c.at("verdict").as_string();
    problems += verdict == "problem";
    warnings += verdict == "warning";
    EXPECT_FALSE(c.at("name").as_string().empty());
    EXPECT_FALSE(c.at("explanation").as_string().empty());
  }
  EXPECT_EQ(o.at("problems"), problems);
  EXPECT_EQ(o.at("warnings"), warnings);
  EXPECT_EQ(r.exit_code, problems ? 1 : 0);
  EXPECT_EQ(o.at("verdict"), problems ? "problem" : warnings ? "warning" : "ok");
  // Under Wine nothing is registered in this test: each browser is named.
  EXPECT_EQ(problems, under_wine() ? 5 : 0) << r.out;
}

TEST_F(Doctor, NonAsciiFolders) {
  // An ideographic space and an emoji (outside the Basic Multilingual Plane,
  // so a surrogate pair in UTF-16) in the program's folder and the data folder.
  install("nm\u3000\U0001F4E6 host", "data\u3000\U0001F4E6");
  if (under_wine()) {
    register_host();
    EXPECT_NE(read_text(dir_ / kChromiumFile).find(json_escaped(host_path(exe_))),
              std::string::npos);
  }
  const auto hello = host({kOrigin}, frame(R"({"hello":true,"v":"2.0"})"));
  EXPECT_EQ(hello.exit_code, 0) << hello.err;
  const auto replies = split_frames(hello.out);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].rfind("{\"ok\":true", 0), 0u) << replies[0];

  write_text(data_ / "extension-seen", "Google Chrome\t2.0\n");
  const auto r = doctor();
  EXPECT_EQ(r.exit_code, 0) << r.out;
  const auto lines = check_lines(r.out);
  EXPECT_EQ(find_line(lines, "nmhost")->explanation, host_path(exe_));
  EXPECT_EQ(find_line(lines, "data directory")->verdict, "ok") << r.out;
  EXPECT_EQ(find_line(lines, "extension-seen")->verdict, "ok") << r.out;
  if (under_wine()) {
    for (const auto& line : registration_outline(r.out))
      EXPECT_EQ(line.rfind("ok ", 0), 0u) << r.out;
  }

  const auto json = doctor({"--json"});
  const auto v = boost::json::parse(json.out);
  EXPECT_EQ(str(v.at("data_dir")), host_path(data_));
}

}  // namespace
}  // namespace e2e
