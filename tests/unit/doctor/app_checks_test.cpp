#include <gtest/gtest.h>
#include <tuple>

#include "doctor/doctor.hpp"
#include "os/net.hpp"
#include "support/doctor.hpp"
#include "support/fixtures.hpp"

namespace nm::doctor {
TEST(CheckSettings, FileAndOptionsInEffect) {
  TempFolder t;
  const std::string ok = "ok downloads.json, ok capture options";
  const std::string bad = "problem downloads.json, ok capture options";
  const std::string odd = "ok downloads.json, warning capture options";
  // The file (none: no file; "/": a folder in its place), outline, part of the explanation.
  const std::tuple<std::optional<std::string>, std::string, std::string> cases[] = {
      {{}, ok, "every capture option is at its default"},
      {R"({"settings":[false]})", bad,
       "discarded: invalid type: sequence, expected struct CaptureRules at line 1 column 12."},
      {"\xEF\xBB\xBF{}", bad, "byte-order mark"},
      {"/", bad, "cannot be read ("},
      {R"({"settings":{"advanced_integration":false}})", odd, "valid"},
      {R"({"settings":{"auto_types":" "}})", odd, "valid"}};
  for (const auto& [content, want, in_explanation] : cases) {
    fs::remove_all(t / "downloads.json");
    if (content == "/")
      fs::create_directory(t / "downloads.json");
    else if (content)
      put(t / "downloads.json", *content);
    Report r;
    check_settings(t.path(), r);
    EXPECT_EQ(outline(r), want) << content.value_or("-");
    EXPECT_NE(r.checks[0].explanation.find(in_explanation), std::string::npos)
        << r.checks[0].explanation;
    EXPECT_EQ(r.checks[1].details, describe_options(r.options));
  }
}

TEST(DescribeOptions, OneLinePerOption) {
  capture::CaptureRules o;
  o.browsers = {{"Google Chrome", false}};
  o.auto_types = "zip  exe";
  o.excluded_sites = "";
  EXPECT_EQ(
      describe_options(o),
      (Lines{"advanced_integration = true", "browsers = \"Google Chrome\" unticked",
             "auto_types = \"zip  exe\" (2 types)", "excluded_sites = (none)",
             "excluded_addresses = (none)", "video_panel = true", "video_panel_sites = (none)",
             "capture_opened = true", "capture_min_kb = 0 (no minimum size)"}));
  EXPECT_EQ(describe_options({})[2], "auto_types = the built-in list (291 types)");
}

TEST(CheckEndpoint, FileListenerAndProcess) {
  TempFolder t;
  bool listening = false;
  std::optional<bool> runs;
  // The probe knows only the port and process of the valid files.
  const AppProbe fake{[&](uint16_t port) {
                        return port == 4711 && listening ? Status{} : Status{Error{"refused"}};
                      },
                      [&](uint32_t pid) { return pid == 9 ? runs : std::nullopt; }};
  const std::string valid = R"({"port":4711,"token":"t","pid":9})";
  const std::string ipc = "ok ipc.json, ", port = " application port, ";
  // ipc.json, whether the port listens, whether the process runs (none: unknown).
  const std::tuple<std::optional<std::string>, bool, std::optional<bool>, std::string> rows[] = {
      {{}, false, false, "warning ipc.json"},
      {R"({"port":70000,"token":"t"})", true, true, "problem ipc.json"},
      {valid, true, true, ipc + "ok" + port + "ok application process"},
      {valid, false, true, ipc + "problem" + port + "ok application process"},
      {valid, true, false, ipc + "ok" + port + "warning application process"},
      {valid, false, std::nullopt, ipc + "warning" + port + "warning application process"},
      {R"({"port":4711,"token":"t"})", false, true,
       ipc + "warning" + port + "ok application process"}};
  for (const auto& [content, listens, process_runs, want] : rows) {
    put(t / "ipc.json", content.value_or(""));
    if (!content) fs::remove(t / "ipc.json");
    listening = listens;
    runs = process_runs;
    Report r;
    check_endpoint(t.path(), fake, r);
    EXPECT_EQ(outline(r), want) << content.value_or("-");
  }
}

TEST(SystemProbe, ConnectsToWhatListens) {
  auto listener = os::TcpListener::bind_loopback();
  ASSERT_TRUE(listener.ok()) << listener.error();
  EXPECT_TRUE(system_probe().connect(listener->port()).ok());
}
}  // namespace nm::doctor
