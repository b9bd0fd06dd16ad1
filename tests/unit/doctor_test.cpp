#include "doctor/doctor.hpp"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include <boost/json.hpp>

#include "host/manifest.hpp"
#include "os/net.hpp"
#include "support/fixtures.hpp"

namespace nm::doctor {
namespace {

using Lines = std::vector<std::string>;
using State = os::RegistryDefault::State;

void put(const fs::path& p, std::string_view bytes) {
  fs::create_directories(p.parent_path());
  ASSERT_TRUE(os::write_file(p, bytes).ok()) << p;
}

const auto utf8 = os::path_display;

// "verdict name, ..." of the checks: a whole outcome at a glance.
std::string outline(const Report& r) {
  std::string out;
  for (const auto& c : r.checks)
    out += (out.empty() ? "" : ", ") + std::string(verdict_word(c.verdict)) + " " + c.name;
  return out;
}

TEST(DoctorDataDir, SourceAndStateWithoutMovingAnything) {
  TempFolder t;
  const fs::path exe = t / "app" / "nmhost-doctor", data = t / "app" / "data";
  const fs::path roaming = t / "roaming", legacy = roaming / "varquel";
  const fs::path product = roaming / "qartorvaneldownloadmanager";
  put(t / "file", "x");
  fs::create_directories(roaming);
  // The folder made before the check, the variable, whether there is a roaming folder.
  const std::tuple<const fs::path*, std::optional<std::string>, bool, std::string> cases[] = {
      {nullptr, utf8(t / "missing"), true, "warning data directory"},
      {&data, utf8(t / "missing"), true, "warning data directory"},  // the variable wins
      {nullptr, utf8(t / "file"), true, "problem data directory"},
      {nullptr, "", true, "warning data directory"},
      {&data, {}, true, "ok data directory"},
      {nullptr, {}, true, "warning data directory"},  // roaming, nothing there yet
      {&legacy, {}, true, "ok data directory, warning legacy folder"},
      {&product, {}, true, "ok data directory, warning legacy folder"},  // left over beside it
      {nullptr, {}, false, "problem data directory"},
  };
  for (const auto& [folder, variable, has_roaming, want] : cases) {
    fs::remove_all(data);
    if (folder) fs::create_directories(*folder);
    Report r;
    check_data_dir(
        locate_data_dir(variable, exe, has_roaming ? std::optional(roaming) : std::nullopt), r);
    EXPECT_EQ(outline(r), want) << variable.value_or("-") << " " << has_roaming;
  }
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
  put(t / "nmhost", "");
  check_host_program(t / "nmhost", r);
  for (const char* seen : {"", "\xFF", "Google Chrome\t2.0\n\t1.0\nZen Browser\n"}) {
    if (*seen) put(t / "extension-seen", seen);
    check_extension_seen(t.path(), r);
  }
  check_log(t.path(), r);
  std::string log;
  for (int i = 1; i <= 25; ++i) log += "line " + std::to_string(i) + "\r\n";
  put(t / "logs" / "qtm.log", log);
  check_log(t.path(), r);
  EXPECT_EQ(outline(r),
            "problem nmhost, ok nmhost, warning extension-seen, warning extension-seen, "
            "ok extension-seen, ok log, ok log");
  EXPECT_EQ(r.checks[4].details, (Lines{"Google Chrome: extension 2.0",
                                        "a browser the host does not recognise: extension 1.0",
                                        "Zen Browser: an extension that gave no version"}));
  ASSERT_EQ(r.log_tail.size(), 20u);
  EXPECT_EQ(r.log_tail.front(), "line 6");
  EXPECT_EQ(r.log_tail.back(), "line 25");
  EXPECT_EQ(last_lines("a\n\n\xFFz", 5), (Lines{"a", "", "\xEF\xBF\xBDz"}));
}

TEST(DoctorAppFiles, SettingsInEffectEndpointListenerAndProcess) {
  TempFolder t;
  const std::string ok = "ok downloads.json, ok capture options";
  const std::string bad = "problem downloads.json, ok capture options";
  const std::string odd = "ok downloads.json, warning capture options";
  // The file (none: no file; "/": a folder in its place), outline, part of the explanation.
  const std::tuple<std::optional<std::string>, std::string, std::string> cases[] = {
      {{}, ok, "every capture option is at its default"},
      {R"({"settings":{"capture_min_kb":2048}})", ok, "valid"},
      {R"({"settings":[false]})", bad,
       "discarded: invalid type: sequence, expected struct CaptureRules at line 1 column 12."},
      {"\xEF\xBB\xBF{}", bad, "byte-order mark"},
      {"/", bad, "cannot be read ("},
      {R"({"settings":{"advanced_integration":false}})", odd, "valid"},
      {R"({"settings":{"auto_types":" "}})", odd, "valid"},
  };
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
    EXPECT_EQ(r.options.capture_min_kb,
              content && content->find("2048") != std::string::npos ? 2048u : 0u);
  }
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
      {"\xEF\xBB\xBF" + valid, true, true, "problem ipc.json"},
      {valid, true, true, ipc + "ok" + port + "ok application process"},
      {R"([4711,"t",9])", false, false, ipc + "warning" + port + "warning application process"},
      {valid, false, true, ipc + "problem" + port + "ok application process"},
      {valid, true, false, ipc + "ok" + port + "warning application process"},
      {valid, false, std::nullopt, ipc + "warning" + port + "warning application process"},
      {R"({"port":4711,"token":"t"})", false, true,
       ipc + "warning" + port + "ok application process"},
  };
  for (const auto& [content, listens, process_runs, want] : rows) {
    put(t / "ipc.json", content.value_or(""));
    if (!content) fs::remove(t / "ipc.json");
    listening = listens;
    runs = process_runs;
    Report r;
    check_endpoint(t.path(), fake, r);
    EXPECT_EQ(outline(r), want) << content.value_or("-");
  }
  auto listener = os::TcpListener::bind_loopback();
  ASSERT_TRUE(listener.ok()) << listener.error();
  const uint16_t listening_port = listener->port();
  EXPECT_TRUE(system_probe().connect(listening_port).ok());
  listener->close();
  EXPECT_FALSE(system_probe().connect(listening_port).ok());
}

class DoctorRegistration : public testing::Test {
 protected:
  void SetUp() override {
    put(host_, "host");
    put(t_ / "c.json", manifest(host::ManifestKind::chromium, host_));
    put(t_ / "f.json", manifest(host::ManifestKind::firefox, host_));
    put(t_ / "other" / "nmhost", "another copy");
    for (size_t key = 0; key < 5; ++key)
      for (auto hive : {os::Hive::current_user, os::Hive::local_machine})
        for (auto view : {os::RegistryView::bits32, os::RegistryView::bits64})
          in_.readings.push_back({key, hive, view, os::RegistryDefault{}});
    in_.host = host_;
  }
  static std::string manifest(host::ManifestKind kind, const fs::path& host) {
    return host::manifest_text(kind, utf8(host));
  }
  // The Chrome key's values, HKCU (both views), HKLM 32-bit and 64-bit view:
  // "-" no key, "e" no value, "d" a number, "x" unreadable, else a manifest file.
  Report run(const std::array<const char*, 3>& chrome = {"-", "-", "-"}) {
    for (auto& reading : in_.readings) {
      if (reading.key != 0) continue;
      const std::string v = reading.hive == os::Hive::current_user     ? chrome[0]
                            : reading.view == os::RegistryView::bits32 ? chrome[1]
                                                                       : chrome[2];
      reading.value = v == "-"   ? os::RegistryDefault{}
                      : v == "e" ? os::RegistryDefault{State::no_value, "", 0}
                      : v == "d" ? os::RegistryDefault{State::not_text, "", 4}
                      : v == "x" ? Result<os::RegistryDefault>(Error{"Access is denied."})
                                 : os::RegistryDefault{State::text, utf8(t_.path() / v), 1};
    }
    Report r;
    check_registration(in_, r);
    return r;
  }

  TempFolder t_;
  const fs::path host_ = t_ / "nmhost";
  RegistrationInputs in_;
};

TEST_F(DoctorRegistration, ManifestFaultsAndWhichEntryBrowsersUse) {
  const auto chromium = host::ManifestKind::chromium, firefox = host::ManifestKind::firefox;
  const std::string ff = manifest(firefox, host_);
  const fs::path other = t_ / "other" / "nmhost", gone = t_ / "gone";
  // The manifest's kind, its text, a marker of each fault in order.
  const std::tuple<host::ManifestKind, std::string, Lines> cases[] = {
      {firefox, ff, {}},
      // A relative path is read from the manifest's folder.
      {chromium, manifest(chromium, "nmhost"), {}},
      {chromium, ff, {"lacks the extension's origin chrome-extension://"}},
      {firefox, manifest(firefox, other), {"is not this installation's host " + utf8(host_)}},
      {firefox, manifest(firefox, gone), {"\"path\" " + utf8(gone) + " does not exist"}},
      {firefox,
       R"({"name":"x","type":"exe","allowed_extensions":[]})",
       {"gives the name \"x\" instead of \"com.qartorvaneldownloadmanager.host\"",
        "gives the type \"exe\" instead of \"stdio\"", "gives no \"path\"",
        "does not list the add-on id"}},
      {firefox, "\xEF\xBB\xBF" + ff, {"(the file begins with a UTF-8 byte-order mark)"}},
      {chromium,
       R"({"name": 5})",
       {"invalid type: integer `5`, expected a string at line 1 column 10"}},
      {chromium, "[1]", {"is not valid: it is not a JSON object"}},
      {chromium, "x", {"is not valid: expected value at line 1 column 1"}},
  };
  for (const auto& [kind, text, markers] : cases) {
    put(t_ / "m.json", text);
    const auto got = manifest_faults(kind, t_ / "m.json", host_);
    ASSERT_EQ(got.size(), markers.size()) << testing::PrintToString(got);
    for (size_t i = 0; i < got.size(); ++i)
      EXPECT_NE(got[i].find(markers[i]), std::string::npos) << got[i];
  }
  EXPECT_EQ(manifest_faults(chromium, t_ / "no.json", host_),
            Lines{"the manifest " + utf8(t_ / "no.json") + " does not exist"});

  const std::pair<std::array<const char*, 3>, std::string> entries[] = {
      // Chrome key's outline
      {{"-", "-", "-"}, "problem Chrome"},
      {{"c.json", "-", "-"}, "ok Chrome in HKCU"},
      {{"f.json", "-", "-"}, "problem Chrome in HKCU"},
      // A broken machine entry behind a good user entry.
      {{"c.json", "no.json", "-"}, "ok Chrome in HKCU, warning Chrome in HKLM (32-bit view)"},
      // The views differ: the 32-bit one is read first.
      {{"-", "no.json", "c.json"},
       "problem Chrome in HKLM (32-bit view), ok Chrome in HKLM (64-bit view)"},
      {{"e", "c.json", "c.json"}, "warning Chrome in HKCU, ok Chrome in HKLM"},  // passed over
      {{"e", "d", "d"}, "problem Chrome in HKCU, problem Chrome in HKLM"},
      {{"-", "x", "x"}, "warning Chrome in HKLM"},
  };
  for (const auto& [chrome, want] : entries)
    EXPECT_EQ(outline(run(chrome)),
              want + ", problem Chromium, problem Edge, problem Brave, problem Firefox");
  // Each hive is written afresh its own way.
  const Report r = run({"e", "d", "d"});
  EXPECT_EQ(r.checks[0].explanation.find("--all-users"), std::string::npos);
  EXPECT_NE(
      r.checks[1].explanation.find("; run nmhost.exe --register --all-users as administrator"),
      std::string::npos);
  in_.portable = true;
  EXPECT_EQ(outline(run()), "warning registration");
  in_.registry = false;
  EXPECT_EQ(outline(run()), "ok registration");
}

TEST(DoctorReport, TextAndJson) {
  Report r;
  r.add(Verdict::problem, "two", "broken \xFF", {"detail"});
  r.add(Verdict::warning, "three", "odd");
  r.options.browsers = {{"Opera", false}, {"Zen", true}};
  EXPECT_EQ(exit_code(r), 1);
  EXPECT_NE(render_text(r).find("\nproblem  two: broken \xFF\n           detail\n"
                                "warning  three: odd\n\n1 problem, 1 warning.\n"),
            std::string::npos);
  const auto v = boost::json::parse(render_json(r));
  EXPECT_EQ(v.at("checks").at(0).at("explanation"), "broken \xEF\xBF\xBD");  // valid UTF-8
  EXPECT_EQ(v.at("verdict"), "problem");
  EXPECT_EQ(v.at("data_dir"), nullptr);
  EXPECT_EQ(v.at("options").at("browsers"),
            boost::json::parse(R"([["Opera",false],["Zen",true]])"));
  r.checks.erase(r.checks.begin());
  EXPECT_EQ(exit_code(r), 0);
}

}  // namespace
}  // namespace nm::doctor
