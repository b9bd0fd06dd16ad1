#include <gtest/gtest.h>
#include <array>
#include <tuple>

#include "doctor/doctor.hpp"
#include "host/manifest.hpp"
#include "support/doctor.hpp"
#include "support/fixtures.hpp"

namespace nm::doctor {
namespace {
using State = os::RegistryDefault::State;

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

TEST_F(DoctorRegistration, ManifestFaults) {
  const auto chromium = host::ManifestKind::chromium, firefox = host::ManifestKind::firefox;
  const std::string ff = manifest(firefox, host_);
  const fs::path other = t_ / "other" / "nmhost", gone = t_ / "gone";
  // The manifest's kind, its text, a marker of each fault in order.
  const std::tuple<host::ManifestKind, std::string, Lines> cases[] = {
      {firefox, ff, {}},
      // A relative path is read from the manifest's folder.
      {chromium, manifest(chromium, "nmhost"), {}},
      {chromium, ff, {"lacks the extension's origin chrome-extension://"}},
      {firefox, manifest(chromium, host_), {"lacks the add-on id"}},
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
      {chromium, "[1]", {"is not valid: it is not a JSON object"}}};
  for (const auto& [kind, text, markers] : cases) {
    put(t_ / "m.json", text);
    const auto got = manifest_faults(kind, t_ / "m.json", host_);
    ASSERT_EQ(got.size(), markers.size()) << testing::PrintToString(got);
    for (size_t i = 0; i < got.size(); ++i)
      EXPECT_NE(got[i].find(markers[i]), std::string::npos) << got[i];
  }
  EXPECT_EQ(manifest_faults(chromium, t_ / "no.json", host_),
            Lines{"the manifest " + utf8(t_ / "no.json") + " does not exist"});
}

TEST_F(DoctorRegistration, WhichEntryBrowsersUse) {
  const std::pair<std::array<const char*, 3>, std::string> entries[] = {
      // Chrome key's outline
      {{"-", "-", "-"}, "problem Chrome"},
      // A broken machine entry behind a good user entry.
      {{"c.json", "no.json", "-"}, "ok Chrome in HKCU, warning Chrome in HKLM (32-bit view)"},
      // The views differ: the 32-bit one is read first.
      {{"-", "no.json", "c.json"},
       "problem Chrome in HKLM (32-bit view), ok Chrome in HKLM (64-bit view)"},
      {{"e", "c.json", "c.json"}, "warning Chrome in HKCU, ok Chrome in HKLM"},  // passed over
      {{"e", "d", "d"}, "problem Chrome in HKCU, problem Chrome in HKLM"},
      {{"-", "x", "x"}, "warning Chrome in HKLM"},
      {{"-", "x", "c.json"},
       "warning Chrome in HKLM (32-bit view), ok Chrome in HKLM (64-bit view)"}};
  for (const auto& [chrome, want] : entries)
    EXPECT_EQ(outline(run(chrome)),
              want + ", problem Chromium, problem Edge, problem Brave, problem Firefox");
  const std::string hklm = run({"c.json", "no.json", "-"}).checks[1].explanation;
  EXPECT_TRUE(
      hklm.ends_with("no.json does not exist; run nmhost.exe --register --all-users as "
                     "administrator to write it afresh. Browsers use the entry above "
                     "instead, but this one takes over if that one goes"));
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
}  // namespace
}  // namespace nm::doctor
