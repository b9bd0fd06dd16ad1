#include "doctor/doctor.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "nmhost/manifest.hpp"
#include "platform/fs.hpp"
#include "temp_folder.hpp"

namespace nm::doctor {
namespace {

namespace fs = std::filesystem;
using V = Verdict;
using State = os::RegistryDefault::State;

void put(const fs::path& p, std::string_view bytes) {
  fs::create_directories(p.parent_path());
  ASSERT_TRUE(os::write_file(p, bytes).ok()) << p;
}

std::string utf8(const fs::path& p) {
  return os::path_display(p);
}

// "verdict name" of each check, for comparing whole outcomes at once.
std::vector<std::string> outline(const Report& r) {
  std::vector<std::string> out;
  for (const auto& c : r.checks) out.push_back(std::string(verdict_word(c.verdict)) + " " + c.name);
  return out;
}

const Check& only(const Report& r) {
  EXPECT_EQ(r.checks.size(), 1u) << testing::PrintToString(outline(r));
  return r.checks.at(0);
}

TEST(DoctorDataDir, SourceAndState) {
  TempFolder t;
  const fs::path exe = t / "app" / "nmhost-doctor";
  const fs::path roaming = t / "roaming";
  fs::create_directories(exe.parent_path());
  fs::create_directories(roaming);
  const fs::path product = roaming / "qartorvaneldownloadmanager";
  const fs::path legacy = roaming / "varquel";

  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::optional<std::string> variable;
    bool has_roaming;
    DataDirSource source;
    std::vector<std::string> outline;
  };
  const Case cases[] = {
      {"variable names a missing folder",
       [] {},
       utf8(t / "elsewhere"),
       true,
       DataDirSource::variable,
       {"warning data directory"}},
      {"variable names a file",
       [&] { put(t / "file", "x"); },
       utf8(t / "file"),
       true,
       DataDirSource::variable,
       {"problem data directory"}},
      {"variable empty", [] {}, "", true, DataDirSource::variable, {"warning data directory"}},
      {"portable folder",
       [&] { fs::create_directories(exe.parent_path() / "data"); },
       std::nullopt,
       true,
       DataDirSource::portable,
       {"ok data directory"}},
      {"roaming, nothing there yet",
       [] {},
       std::nullopt,
       true,
       DataDirSource::roaming,
       {"warning data directory"}},
      {"roaming, only the legacy folder",
       [&] { fs::create_directories(legacy); },
       std::nullopt,
       true,
       DataDirSource::roaming,
       {"ok data directory", "warning legacy folder"}},
      {"roaming, both folders",
       [&] { fs::create_directories(product); },
       std::nullopt,
       true,
       DataDirSource::roaming,
       {"ok data directory", "warning legacy folder"}},
      {"roaming, product folder only",
       [&] { fs::remove_all(legacy); },
       std::nullopt,
       true,
       DataDirSource::roaming,
       {"ok data directory"}},
      {"no roaming folder",
       [] {},
       std::nullopt,
       false,
       DataDirSource::none,
       {"problem data directory"}},
  };
  for (const auto& c : cases) {
    fs::remove_all(exe.parent_path() / "data");
    c.prepare();
    const auto where =
        locate_data_dir(c.variable, exe, c.has_roaming ? std::optional(roaming) : std::nullopt);
    Report r;
    check_data_dir(where, r);
    EXPECT_EQ(where.source, c.source) << c.what;
    EXPECT_EQ(outline(r), c.outline) << c.what;
  }
  // Nothing was moved or created by looking: the legacy folder stays.
  fs::remove_all(product);
  fs::create_directories(legacy);
  const auto where = locate_data_dir(std::nullopt, exe, roaming);
  EXPECT_TRUE(where.legacy_pending);
  EXPECT_EQ(files_dir(where), legacy);
  EXPECT_TRUE(fs::is_directory(legacy));
  EXPECT_FALSE(fs::exists(product));
  // The portable probe leaves nothing behind.
  fs::create_directories(exe.parent_path() / "data");
  EXPECT_EQ(locate_data_dir(std::nullopt, exe, roaming).dir, exe.parent_path() / "data");
  EXPECT_TRUE(fs::is_empty(exe.parent_path() / "data"));
}

#ifndef _WIN32
TEST(DoctorDataDir, UnwritablePortableFolderIsNamed) {
  // A folder that even the superuser cannot write into.
  TempFolder t;
  const fs::path exe = t / "nmhost-doctor";
  fs::create_directory_symlink("/proc/self", t / "data");
  const auto where = locate_data_dir(std::nullopt, exe, t / "roaming");
  EXPECT_EQ(where.source, DataDirSource::roaming);
  Report r;
  check_data_dir(where, r);
  EXPECT_EQ(outline(r),
            (std::vector<std::string>{"warning portable folder", "warning data directory"}));
}
#endif

TEST(DoctorHost, ExpectedBesideTheDoctor) {
  EXPECT_EQ(expected_host("/a/b/nmhost-doctor"), fs::path("/a/b/nmhost"));
  EXPECT_EQ(expected_host("/a/b/nmhost-doctor.exe"), fs::path("/a/b/nmhost.exe"));
  TempFolder t;
  Report r;
  check_host_program(t / "nmhost", r);
  fs::create_directory(t / "dir");
  check_host_program(t / "dir", r);
  put(t / "nmhost", "");
  check_host_program(t / "nmhost", r);
  check_host_program(std::nullopt, r);
  EXPECT_EQ(outline(r), (std::vector<std::string>{"problem nmhost", "problem nmhost", "ok nmhost",
                                                  "problem nmhost"}));
}

TEST(DoctorFiles, ExtensionSeen) {
  TempFolder t;
  const fs::path file = t / "extension-seen";
  const struct {
    std::optional<std::string> content;
    Verdict verdict;
    std::vector<std::string> details;
  } cases[] = {
      {std::nullopt, V::warning, {}},
      {"", V::warning, {}},
      {"\xFF\xFE", V::warning, {}},
      {"Google Chrome\t2.0\n\t1.0\nZen Browser\n",
       V::ok,
       {"Google Chrome: extension 2.0", "a browser the host does not recognise: extension 1.0",
        "Zen Browser: an extension that gave no version"}},
  };
  for (const auto& c : cases) {
    fs::remove(file);
    if (c.content) put(file, *c.content);
    Report r;
    check_extension_seen(t.path(), r);
    const Check& check = only(r);
    EXPECT_EQ(check.verdict, c.verdict) << check.explanation;
    EXPECT_EQ(check.name, "extension-seen");
    EXPECT_EQ(check.details, c.details);
    EXPECT_EQ(r.extension_seen.size(), c.details.size());
  }
}

TEST(DoctorFiles, LastLines) {
  const struct {
    std::string_view text;
    size_t n;
    std::vector<std::string> lines;
  } cases[] = {
      {"", 3, {}},
      {"\n", 3, {}},
      {"a", 3, {"a"}},
      {"a\nb\n", 3, {"a", "b"}},
      {"a\r\nb\r\nc\r\n", 2, {"b", "c"}},
      {"a\n\nb", 5, {"a", "", "b"}},
      {"x\n\xFFy\n", 1, {"\xEF\xBF\xBDy"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(last_lines(c.text, c.n), c.lines) << testing::PrintToString(std::string(c.text));
}

TEST(DoctorFiles, LogTail) {
  TempFolder t;
  Report r;
  check_log(t.path(), r);
  EXPECT_EQ(outline(r), std::vector<std::string>{"ok log"});
  std::string log;
  for (int i = 1; i <= 25; ++i) log += "line " + std::to_string(i) + "\n";
  put(t / "logs" / "qtm.log", log);
  Report full;
  check_log(t.path(), full);
  ASSERT_EQ(full.log_tail.size(), 20u);
  EXPECT_EQ(full.log_tail.front(), "line 6");
  EXPECT_EQ(full.log_tail.back(), "line 25");
  EXPECT_EQ(only(full).details, full.log_tail);
}

class DoctorManifest : public testing::Test {
 protected:
  void SetUp() override {
    host_ = t_ / "nmhost";
    put(host_, "host");
    put(t_ / "other" / "nmhost", "another copy");
  }
  std::string host_utf8() const { return utf8(host_); }
  fs::path write(std::string_view text) const {
    const fs::path file = t_ / "m.json";
    put(file, text);
    return file;
  }
  // The faults, each reduced to whether it holds the marker.
  std::vector<std::string> faults(bool chromium, std::string_view text) const {
    return manifest_faults(chromium, write(text), host_);
  }

  TempFolder t_;
  fs::path host_;
};

TEST_F(DoctorManifest, TheHostsOwnManifestsAreFine) {
  EXPECT_EQ(faults(true, host::manifest_text(host::ManifestKind::chromium, host_utf8())),
            std::vector<std::string>{});
  EXPECT_EQ(faults(false, host::manifest_text(host::ManifestKind::firefox, host_utf8())),
            std::vector<std::string>{});
  // A relative path is read from the manifest's folder.
  EXPECT_EQ(faults(true, host::manifest_text(host::ManifestKind::chromium, "nmhost")),
            std::vector<std::string>{});
}

TEST_F(DoctorManifest, EachFaultIsNamed) {
  const std::string firefox = host::manifest_text(host::ManifestKind::firefox, host_utf8());
  const struct {
    bool chromium;
    std::string text;
    std::vector<std::string> markers;  // one per fault, in order
  } cases[] = {
      {true,
       firefox,
       {"lacks the extension's origin chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/"}},
      {false,
       host::manifest_text(host::ManifestKind::chromium, host_utf8()),
       {"lacks the add-on id browser@qartorvanel.example"}},
      {false,
       host::manifest_text(host::ManifestKind::firefox, utf8(t_ / "other" / "nmhost")),
       {"is not this installation's host " + host_utf8()}},
      {false,
       host::manifest_text(host::ManifestKind::firefox, utf8(t_ / "gone")),
       {"\"path\" " + utf8(t_ / "gone") + " does not exist"}},
      {false,
       R"({"name":"x","type":"exe","allowed_extensions":[]})",
       {"gives the name \"x\" instead of \"com.qartorvaneldownloadmanager.host\"",
        "gives the type \"exe\" instead of \"stdio\"", "gives no \"path\"",
        "does not list the add-on id"}},
      {false, "\xEF\xBB\xBF" + firefox, {"is not valid: ", "byte-order mark"}},
      {true,
       R"({"name": 5})",
       {"is not valid: invalid type: integer `5`, expected a string at line 1 column 10"}},
      {true, "[1]", {"is not valid: it is not a JSON object"}},
  };
  for (const auto& c : cases) {
    const auto got = faults(c.chromium, c.text);
    if (c.markers.size() == 2 && c.markers[1] == "byte-order mark") {
      ASSERT_EQ(got.size(), 1u);
      for (const auto& m : c.markers) EXPECT_NE(got[0].find(m), std::string::npos) << got[0];
      continue;
    }
    ASSERT_EQ(got.size(), c.markers.size()) << testing::PrintToString(got);
    for (size_t i = 0; i < got.size(); ++i)
      EXPECT_NE(got[i].find(c.markers[i]), std::string::npos) << got[i];
  }
  const auto missing = manifest_faults(true, t_ / "absent.json", host_);
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0], "the manifest " + utf8(t_ / "absent.json") + " does not exist");
}

class DoctorRegistration : public DoctorManifest {
 protected:
  void SetUp() override {
    DoctorManifest::SetUp();
    good_chromium_ = utf8(t_ / "c.json");
    good_firefox_ = utf8(t_ / "f.json");
    put(t_ / "c.json", host::manifest_text(host::ManifestKind::chromium, host_utf8()));
    put(t_ / "f.json", host::manifest_text(host::ManifestKind::firefox, host_utf8()));
    for (size_t key = 0; key < 5; ++key)
      for (auto hive : {os::Hive::current_user, os::Hive::local_machine})
        for (auto view : {os::RegistryView::bits32, os::RegistryView::bits64})
          in_.readings.push_back({key, hive, view, os::RegistryDefault{}});
    in_.host = host_;
  }
  void set(size_t key, os::Hive hive, std::optional<os::RegistryView> view,
           Result<os::RegistryDefault> value) {
    for (auto& reading : in_.readings)
      if (reading.key == key && reading.hive == hive && (!view || reading.view == *view))
        reading.value = value;
  }
  static os::RegistryDefault text(std::string s) { return {State::text, std::move(s), 1}; }
  void register_all(os::Hive hive) {
    for (size_t key = 0; key < 5; ++key)
      set(key, hive, std::nullopt, text(key < 4 ? good_chromium_ : good_firefox_));
  }
  std::vector<std::string> run() const {
    Report r;
    check_registration(in_, r);
    return outline(r);
  }

  std::string good_chromium_, good_firefox_;
  RegistrationInputs in_;
};

TEST_F(DoctorRegistration, NothingRegisteredNamesEveryBrowser) {
  EXPECT_EQ(run(), (std::vector<std::string>{"problem Chrome", "problem Chromium", "problem Edge",
                                             "problem Brave", "problem Firefox"}));
}

TEST_F(DoctorRegistration, RegisteredForTheUser) {
  register_all(os::Hive::current_user);
  EXPECT_EQ(run(),
            (std::vector<std::string>{"ok Chrome in HKCU", "ok Chromium in HKCU", "ok Edge in HKCU",
                                      "ok Brave in HKCU", "ok Firefox in HKCU"}));
  // The Mozilla key naming the Chromium manifest: its add-on is not listed.
  set(4, os::Hive::current_user, std::nullopt, text(good_chromium_));
  EXPECT_EQ(run().back(), "problem Firefox in HKCU");
}

TEST_F(DoctorRegistration, PrecedenceBetweenPlaces) {
  const auto hkcu = os::Hive::current_user;
  const auto hklm = os::Hive::local_machine;
  const auto v32 = os::RegistryView::bits32;
  const auto v64 = os::RegistryView::bits64;
  const os::RegistryDefault no_value{State::no_value, "", 0};
  const os::RegistryDefault dword{State::not_text, "", 4};
  const struct {
    const char* what;
    std::function<void()> prepare;
    std::vector<std::string> chrome;
  } cases[] = {
      {"a broken machine entry behind a good user entry",
       [&] {
         set(0, hkcu, std::nullopt, text(good_chromium_));
         set(0, hklm, v32, text(utf8(t_ / "missing.json")));
       },
       {"ok Chrome in HKCU", "warning Chrome in HKLM (32-bit view)"}},
      {"the views of the machine hive differ, the 32-bit one is read first",
       [&] {
         set(0, hklm, v32, text(utf8(t_ / "missing.json")));
         set(0, hklm, v64, text(good_chromium_));
       },
       {"problem Chrome in HKLM (32-bit view)", "ok Chrome in HKLM (64-bit view)"}},
      {"an empty user key is passed over",
       [&] {
         set(0, hkcu, std::nullopt, no_value);
         set(0, hklm, std::nullopt, text(good_chromium_));
       },
       {"warning Chrome in HKCU", "ok Chrome in HKLM"}},
      {"only an empty key and a number",
       [&] {
         set(0, hkcu, std::nullopt, no_value);
         set(0, hklm, std::nullopt, dword);
       },
       {"problem Chrome in HKCU", "problem Chrome in HKLM"}},
      {"an unreadable key",
       [&] { set(0, hklm, std::nullopt, Error{"Access is denied. (os error 5)"}); },
       {"warning Chrome in HKLM"}},
  };
  for (const auto& c : cases) {
    for (auto& reading : in_.readings) reading.value = os::RegistryDefault{};
    c.prepare();
    auto got = run();
    got.resize(got.size() - 4);  // the other browsers are not registered
    EXPECT_EQ(got, c.chrome) << c.what;
  }
}

TEST_F(DoctorRegistration, PathElsewhereIsAProblem) {
  register_all(os::Hive::current_user);
  put(t_ / "c.json",
      host::manifest_text(host::ManifestKind::chromium, utf8(t_ / "other" / "nmhost")));
  Report r;
  check_registration(in_, r);
  ASSERT_EQ(r.checks.size(), 5u);
  EXPECT_EQ(r.checks[0].verdict, V::problem);
  EXPECT_NE(r.checks[0].explanation.find("is not this installation's host " + host_utf8()),
            std::string::npos)
      << r.checks[0].explanation;
  EXPECT_EQ(r.checks[4].verdict, V::ok);
}

TEST_F(DoctorRegistration, PortableAndPlatformsWithoutRegistry) {
  in_.portable = true;
  EXPECT_EQ(run(), std::vector<std::string>{"warning registration"});
  in_.registry = false;
  EXPECT_EQ(run(), std::vector<std::string>{"ok registration"});
}

TEST(DoctorReport, TextAndJson) {
  Report r;
  r.add(V::ok, "one", "fine");
  r.add(V::problem, "two", "broken \xFF", {"detail a", "detail b"});
  r.add(V::warning, "three", "odd");
  r.data_dir = "C:\\d";
  r.data_dir_source = "roaming";
  r.extension_seen = {{"Google Chrome", "2.0"}};
  r.log_tail = {"l1"};
  EXPECT_EQ(exit_code(r), 1);

  const std::string text = render_text(r);
  EXPECT_NE(text.find("\nok       one: fine\nproblem  two: broken \xFF\n           detail a\n"
                      "           detail b\nwarning  three: odd\n\n1 problem, 1 warning.\n"),
            std::string::npos)
      << text;

  const std::string json = render_json(r);
  ASSERT_EQ(json.back(), '\n');
  const auto v = boost::json::parse(json).as_object();
  EXPECT_EQ(v.at("verdict"), "problem");
  EXPECT_EQ(v.at("problems"), 1);
  EXPECT_EQ(v.at("warnings"), 1);
  const auto& checks = v.at("checks").as_array();
  ASSERT_EQ(checks.size(), 3u);
  EXPECT_EQ(checks[1].at("name"), "two");
  EXPECT_EQ(checks[1].at("explanation"), "broken \xEF\xBF\xBD");  // always valid UTF-8
  EXPECT_EQ(checks[1].at("details").as_array().size(), 2u);
  EXPECT_EQ(v.at("data_dir"), "C:\\d");
  EXPECT_EQ(v.at("extension_seen").as_array()[0].at("version"), "2.0");
  EXPECT_EQ(v.at("log_tail").as_array()[0], "l1");

  Report fine;
  fine.add(V::warning, "w", "x");
  EXPECT_EQ(exit_code(fine), 0);
  EXPECT_EQ(boost::json::parse(render_json(fine)).at("data_dir"), nullptr);
  EXPECT_NE(render_text(fine).find("no problems, 1 warning."), std::string::npos);
}

}  // namespace
}  // namespace nm::doctor
