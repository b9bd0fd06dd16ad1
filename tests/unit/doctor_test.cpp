#include "doctor/doctor.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "nmhost/manifest.hpp"
#include "platform/fs.hpp"
#include "platform/net.hpp"
#include "temp_folder.hpp"

namespace nm::doctor {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using State = os::RegistryDefault::State;

void put(const fs::path& p, std::string_view bytes) {
  fs::create_directories(p.parent_path());
  ASSERT_TRUE(os::write_file(p, bytes).ok()) << p;
}

std::string utf8(const fs::path& p) {
  return os::path_display(p);
}

// "verdict name" of each check: a whole outcome at a glance.
Lines outline(const Report& r) {
  Lines out;
  for (const auto& c : r.checks) out.push_back(std::string(verdict_word(c.verdict)) + " " + c.name);
  return out;
}

TEST(DoctorDataDir, SourceAndStateWithoutMovingAnything) {
  TempFolder t;
  const fs::path exe = t / "app" / "nmhost-doctor";
  const fs::path roaming = t / "roaming";
  const fs::path legacy = roaming / "varquel";
  fs::create_directories(exe.parent_path());
  fs::create_directories(roaming);
  put(t / "file", "x");
  const struct {
    std::function<void()> prepare;
    std::optional<std::string> variable;
    bool roaming;
    Lines outline;
  } cases[] = {
      {[] {}, utf8(t / "missing"), true, {"warning data directory"}},
      {[] {}, utf8(t / "file"), true, {"problem data directory"}},
      {[] {}, "", true, {"warning data directory"}},
      {[&] { fs::create_directory(exe.parent_path() / "data"); }, {}, true, {"ok data directory"}},
      {[] {}, {}, true, {"warning data directory"}},  // roaming, nothing there yet
      {[&] { fs::create_directory(legacy); },
       {},
       true,
       {"ok data directory", "warning legacy folder"}},
      {[&] { fs::create_directory(roaming / "qartorvaneldownloadmanager"); },
       {},
       true,
       {"ok data directory", "warning legacy folder"}},  // left over beside the new folder
      {[] {}, {}, false, {"problem data directory"}},
  };
  for (const auto& c : cases) {
    fs::remove_all(exe.parent_path() / "data");
    c.prepare();
    Report r;
    check_data_dir(
        locate_data_dir(c.variable, exe, c.roaming ? std::optional(roaming) : std::nullopt), r);
    EXPECT_EQ(outline(r), c.outline) << c.variable.value_or("-") << " " << c.roaming;
  }
  // A pending move is reported, not made; the files are read where they are.
  fs::remove_all(roaming / "qartorvaneldownloadmanager");
  const auto where = locate_data_dir(std::nullopt, exe, roaming);
  EXPECT_EQ(files_dir(where), legacy);
  EXPECT_FALSE(fs::exists(roaming / "qartorvaneldownloadmanager"));
  // The portable probe leaves nothing behind.
  fs::create_directory(exe.parent_path() / "data");
  EXPECT_EQ(locate_data_dir(std::nullopt, exe, roaming).source, DataDirSource::portable);
  EXPECT_TRUE(fs::is_empty(exe.parent_path() / "data"));
#ifndef _WIN32
  // A data folder that even the superuser cannot write into is not portable.
  fs::remove(exe.parent_path() / "data");
  fs::create_directory_symlink("/proc/self", exe.parent_path() / "data");
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
  check_extension_seen(t.path(), r);
  put(t / "extension-seen", "\xFF");
  check_extension_seen(t.path(), r);
  put(t / "extension-seen", "Google Chrome\t2.0\n\t1.0\nZen Browser\n");
  check_extension_seen(t.path(), r);
  check_log(t.path(), r);
  std::string log;
  for (int i = 1; i <= 25; ++i) log += "line " + std::to_string(i) + "\r\n";
  put(t / "logs" / "qtm.log", log);
  check_log(t.path(), r);
  EXPECT_EQ(outline(r), (Lines{"problem nmhost", "ok nmhost", "warning extension-seen",
                               "warning extension-seen", "ok extension-seen", "ok log", "ok log"}));
  EXPECT_EQ(r.checks[4].details, (Lines{"Google Chrome: extension 2.0",
                                        "a browser the host does not recognise: extension 1.0",
                                        "Zen Browser: an extension that gave no version"}));
  ASSERT_EQ(r.log_tail.size(), 20u);
  EXPECT_EQ(r.log_tail.front(), "line 6");
  EXPECT_EQ(r.log_tail.back(), "line 25");
  EXPECT_EQ(last_lines("a\n\n\xFFz", 5), (Lines{"a", "", "\xEF\xBF\xBDz"}));
}

TEST(DoctorSettings, VerdictsAndOptionsInEffect) {
  TempFolder t;
  const std::string broken = R"({"settings":{"video_panel":false,"capture_min_kb":-1}})";
  const struct {
    std::optional<std::string> content;  // none: no file; "/": a folder in its place
    Lines outline;
    std::string in_explanation;
  } cases[] = {
      {{}, {"ok downloads.json", "ok capture options"}, "every capture option is at its default"},
      {R"({"settings":{"capture_min_kb":2048}})",
       {"ok downloads.json", "ok capture options"},
       "valid"},
      {broken,
       {"problem downloads.json", "ok capture options"},
       "discarded: invalid value: integer `-1`, expected u64 at line 1 column 52. Because of this "
       "one error every capture option is at its default, the valid ones included."},
      {R"({"settings":[false]})",
       {"problem downloads.json", "ok capture options"},
       "discarded: invalid type: sequence, expected struct CaptureRules at line 1 column 12."},
      {"\xEF\xBB\xBF{}", {"problem downloads.json", "ok capture options"}, "byte-order mark"},
      {"/", {"problem downloads.json", "ok capture options"}, "cannot be read ("},
      {R"({"settings":{"advanced_integration":false}})",
       {"ok downloads.json", "warning capture options"},
       "valid"},
      {R"({"settings":{"auto_types":" "}})",
       {"ok downloads.json", "warning capture options"},
       "valid"},
  };
  for (const auto& c : cases) {
    fs::remove_all(t / "downloads.json");
    if (c.content == "/")
      fs::create_directory(t / "downloads.json");
    else if (c.content)
      put(t / "downloads.json", *c.content);
    Report r;
    check_settings(t.path(), r);
    EXPECT_EQ(outline(r), c.outline) << c.content.value_or("-");
    EXPECT_NE(r.checks[0].explanation.find(c.in_explanation), std::string::npos)
        << r.checks[0].explanation;
    EXPECT_EQ(r.checks[1].details, describe_options(r.options));
    EXPECT_EQ(r.options.video_panel, true);  // the broken file's valid value is not used
    EXPECT_EQ(r.options.capture_min_kb,
              c.content && c.content->find("2048") != std::string::npos ? 2048u : 0u);
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
}

TEST(DoctorEndpoint, FileListenerAndProcess) {
  TempFolder t;
  bool listening = false;
  std::optional<bool> runs;
  const AppProbe fake{[&](uint16_t port) -> Status {
                        EXPECT_EQ(port, 4711);
                        return listening ? Status{} : Status{Error{"refused"}};
                      },
                      [&](uint32_t pid) {
                        EXPECT_EQ(pid, 9u);
                        return runs;
                      }};
  const std::string valid = R"({"port":4711,"token":"t","pid":9})";
  const struct {
    std::optional<std::string> content;
    bool listening;
    std::optional<bool> runs;
    Lines outline;
  } cases[] = {
      {{}, false, false, {"warning ipc.json"}},
      {R"({"port":70000,"token":"t"})", true, true, {"problem ipc.json"}},
      {valid, true, true, {"ok ipc.json", "ok application port", "ok application process"}},
      {R"([4711,"t",9])",
       false,
       false,
       {"ok ipc.json", "warning application port", "warning application process"}},
      {valid, false, true, {"ok ipc.json", "problem application port", "ok application process"}},
      {valid, true, false, {"ok ipc.json", "ok application port", "problem application process"}},
      {valid,
       false,
       std::nullopt,
       {"ok ipc.json", "warning application port", "warning application process"}},
      {R"({"port":4711,"token":"t"})",
       false,
       true,
       {"ok ipc.json", "warning application port", "ok application process"}},
  };
  for (const auto& c : cases) {
    fs::remove(t / "ipc.json");
    if (c.content) put(t / "ipc.json", *c.content);
    listening = c.listening;
    runs = c.runs;
    Report r;
    check_endpoint(t.path(), fake, r);
    EXPECT_EQ(outline(r), c.outline) << c.content.value_or("-");
  }
  put(t / "ipc.json", "\xEF\xBB\xBF" + valid);
  Report bom;
  check_endpoint(t.path(), fake, bom);
  EXPECT_NE(bom.checks[0].explanation.find("byte-order mark"), std::string::npos);

  auto listener = os::TcpListener::bind_loopback();
  ASSERT_TRUE(listener.ok()) << listener.error();
  const uint16_t port = listener->port();
  EXPECT_TRUE(system_probe().connect(port).ok());
  listener->close();
  EXPECT_FALSE(system_probe().connect(port).ok());
}

class DoctorRegistration : public testing::Test {
 protected:
  void SetUp() override {
    host_ = t_ / "nmhost";
    put(host_, "host");
    put(t_ / "other" / "nmhost", "another copy");
    put(t_ / "c.json", host::manifest_text(host::ManifestKind::chromium, utf8(host_)));
    put(t_ / "f.json", host::manifest_text(host::ManifestKind::firefox, utf8(host_)));
    for (size_t key = 0; key < 5; ++key)
      for (auto hive : {os::Hive::current_user, os::Hive::local_machine})
        for (auto view : {os::RegistryView::bits32, os::RegistryView::bits64})
          in_.readings.push_back({key, hive, view, os::RegistryDefault{}});
    in_.host = host_;
  }
  Lines faults(bool chromium, std::string_view text) const {
    put(t_ / "m.json", text);
    return manifest_faults(chromium, t_ / "m.json", host_);
  }
  void set(size_t key, os::Hive hive, std::optional<os::RegistryView> view,
           Result<os::RegistryDefault> v) {
    for (auto& reading : in_.readings)
      if (reading.key == key && reading.hive == hive && (!view || reading.view == *view))
        reading.value = v;
  }
  os::RegistryDefault names(const char* file) const { return {State::text, utf8(t_ / file), 1}; }
  Lines run() const {
    Report r;
    check_registration(in_, r);
    return outline(r);
  }

  TempFolder t_;
  fs::path host_;
  RegistrationInputs in_;
};

TEST_F(DoctorRegistration, ManifestFaultsAreNamed) {
  EXPECT_EQ(faults(true, host::manifest_text(host::ManifestKind::chromium, "nmhost")), Lines{})
      << "a relative path is read from the manifest's folder";
  const std::string firefox = host::manifest_text(host::ManifestKind::firefox, utf8(host_));
  const struct {
    bool chromium;
    std::string text;
    Lines markers;  // one per fault, in order
  } cases[] = {
      {false, firefox, {}},
      {true,
       firefox,
       {"lacks the extension's origin chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/"}},
      {false,
       host::manifest_text(host::ManifestKind::firefox, utf8(t_ / "other" / "nmhost")),
       {"is not this installation's host " + utf8(host_)}},
      {false,
       host::manifest_text(host::ManifestKind::firefox, utf8(t_ / "gone")),
       {"\"path\" " + utf8(t_ / "gone") + " does not exist"}},
      {false,
       R"({"name":"x","type":"exe","allowed_extensions":[]})",
       {"gives the name \"x\" instead of \"com.qartorvaneldownloadmanager.host\"",
        "gives the type \"exe\" instead of \"stdio\"", "gives no \"path\"",
        "does not list the add-on id"}},
      {false, "\xEF\xBB\xBF" + firefox, {"(the file begins with a UTF-8 byte-order mark)"}},
      {true,
       R"({"name": 5})",
       {"is not valid: invalid type: integer `5`, expected a string at line 1 column 10"}},
      {true, "[1]", {"is not valid: it is not a JSON object"}},
      {true, "x", {"is not valid: expected value at line 1 column 1"}},
  };
  for (const auto& c : cases) {
    const auto got = faults(c.chromium, c.text);
    ASSERT_EQ(got.size(), c.markers.size()) << testing::PrintToString(got);
    for (size_t i = 0; i < got.size(); ++i)
      EXPECT_NE(got[i].find(c.markers[i]), std::string::npos) << got[i];
  }
  EXPECT_EQ(manifest_faults(true, t_ / "no.json", host_),
            Lines{"the manifest " + utf8(t_ / "no.json") + " does not exist"});
}

TEST_F(DoctorRegistration, WhichEntryBrowsersUse) {
  const auto hkcu = os::Hive::current_user, hklm = os::Hive::local_machine;
  const auto v32 = os::RegistryView::bits32, v64 = os::RegistryView::bits64;
  const struct {
    std::function<void()> prepare;
    Lines chrome;  // the lines of the Chrome key
  } cases[] = {
      {[] {}, {"problem Chrome"}},
      {[&] { set(0, hkcu, {}, names("c.json")); }, {"ok Chrome in HKCU"}},
      {[&] { set(0, hkcu, {}, names("f.json")); }, {"problem Chrome in HKCU"}},
      {[&] {  // a broken machine entry behind a good user entry
         set(0, hkcu, {}, names("c.json"));
         set(0, hklm, v32, names("missing.json"));
       },
       {"ok Chrome in HKCU", "warning Chrome in HKLM (32-bit view)"}},
      {[&] {  // the views differ: the 32-bit one is read first
         set(0, hklm, v32, names("missing.json"));
         set(0, hklm, v64, names("c.json"));
       },
       {"problem Chrome in HKLM (32-bit view)", "ok Chrome in HKLM (64-bit view)"}},
      {[&] {  // an empty user key is passed over
         set(0, hkcu, {}, os::RegistryDefault{State::no_value, "", 0});
         set(0, hklm, {}, names("c.json"));
       },
       {"warning Chrome in HKCU", "ok Chrome in HKLM"}},
      {[&] {
         set(0, hkcu, {}, os::RegistryDefault{State::no_value, "", 0});
         set(0, hklm, {}, os::RegistryDefault{State::not_text, "", 4});
       },
       {"problem Chrome in HKCU", "problem Chrome in HKLM"}},
      {[&] { set(0, hklm, {}, Error{"Access is denied. (os error 5)"}); },
       {"warning Chrome in HKLM"}},
  };
  for (const auto& c : cases) {
    for (auto& reading : in_.readings) reading.value = os::RegistryDefault{};
    c.prepare();
    const Lines got = run();
    EXPECT_EQ(Lines(got.begin(), got.end() - 4), c.chrome);
    EXPECT_EQ(got.back(), "problem Firefox");
  }
  in_.portable = true;
  EXPECT_EQ(run(), Lines{"warning registration"});
  in_.registry = false;
  EXPECT_EQ(run(), Lines{"ok registration"});
}

TEST(DoctorReport, TextAndJson) {
  Report r;
  r.add(Verdict::problem, "two", "broken \xFF", {"detail"});
  r.add(Verdict::warning, "three", "odd");
  EXPECT_EQ(exit_code(r), 1);
  EXPECT_NE(render_text(r).find("\nproblem  two: broken \xFF\n           detail\n"
                                "warning  three: odd\n\n1 problem, 1 warning.\n"),
            std::string::npos);
  const auto v = boost::json::parse(render_json(r));
  EXPECT_EQ(v.at("checks").at(0).at("explanation"), "broken \xEF\xBF\xBD");  // valid UTF-8
  EXPECT_EQ(v.at("verdict"), "problem");
  EXPECT_EQ(v.at("data_dir"), nullptr);
  r.checks.erase(r.checks.begin());
  EXPECT_EQ(exit_code(r), 0);
}

}  // namespace
}  // namespace nm::doctor
