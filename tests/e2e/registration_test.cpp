// --register and --unregister against the built host. Natively a stand-in
// `reg` script beside the host keeps "keys" as files and records its
// arguments; under Wine the host runs Wine's own reg.exe and the keys are read
// back with it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <sstream>

#include "harness.hpp"

namespace {

namespace fs = std::filesystem;
using e2e::read_text;
using e2e::under_wine;
using e2e::write_text;
using Args = std::vector<std::string>;

constexpr std::string_view kHost = "com.qartorvaneldownloadmanager.host";
constexpr std::string_view kChromiumFile = "com.qartorvaneldownloadmanager.host.json";
constexpr std::string_view kFirefoxFile = "com.qartorvaneldownloadmanager.host.firefox.json";
constexpr std::string_view kPrefix = "qartorvaneldownloadmanager-nmhost: ";
const char* const kKeys[] = {
    "Software\\Google\\Chrome\\NativeMessagingHosts",
    "Software\\Chromium\\NativeMessagingHosts",
    "Software\\Microsoft\\Edge\\NativeMessagingHosts",
    "Software\\BraveSoftware\\Brave-Browser\\NativeMessagingHosts",
    "Software\\Mozilla\\NativeMessagingHosts",
};
constexpr std::string_view kExtensionKey =
    "Software\\Google\\Chrome\\Extensions\\kQarStoreIdPending";

// Keeps each key's default value in registry/<key with '/'>/default.
constexpr std::string_view kStandInReg = R"sh(#!/bin/sh
here=$(dirname "$0")
{ echo "--"; for a in "$@"; do printf '%s\n' "$a"; done; } >>"$here/reg-calls"
if [ -f "$here/reg-fail" ]; then cat "$here/reg-fail" >&2; exit 1; fi
key="$here/registry/$(printf '%s' "$2" | tr '\\' '/')"
case "$1" in
add) mkdir -p "$key" && printf '%s' "$7" >"$key/default" ;;
delete)
  if [ ! -d "$key" ]; then echo "ERROR: The system was unable to find the specified registry key or value." >&2; exit 1; fi
  rm -rf "$key" ;;
*) exit 2 ;;
esac
)sh";

std::string json_escaped(std::string s) {
  for (size_t i = 0; (i = s.find('\\', i)) != std::string::npos; i += 2) s.insert(i, 1, '\\');
  return s;
}

class Registration : public testing::Test {
 protected:
  void SetUp() override {
    static int n = 0;
    // Spaces in both levels: every path the host passes on must stay whole.
    const fs::path base = fs::temp_directory_path() /
                          ("nm reg e2e " + std::to_string(getpid()) + "-" + std::to_string(++n));
    fs::remove_all(base);
    fs::create_directories(base / "host folder");
    dir_ = fs::canonical(base / "host folder");
    const fs::path built = e2e::host_exe();
    exe_ = dir_ / built.filename();
    fs::copy_file(built, exe_);
    if (under_wine()) {
      clear_wine_keys();
    } else {
      write_text(dir_ / "reg", kStandInReg);
      fs::permissions(dir_ / "reg", fs::perms::owner_all, fs::perm_options::add);
    }
  }

  void TearDown() override {
    if (under_wine()) clear_wine_keys();
    fs::remove_all(dir_.parent_path());
  }

  // The host's own view of a path in its folder.
  std::string host_path(std::string_view name = {}) const {
    return e2e::host_path(name.empty() ? exe_ : dir_ / name);
  }

  e2e::RunResult host(const Args& args, std::map<std::string, std::string> env = {}) const {
    e2e::RunOptions o;
    o.args = args;
    o.env = std::move(env);
    o.exe = exe_;
    return e2e::run(o);
  }

  static e2e::RunResult wine_tool(const char* name, const Args& args) {
    return e2e::wine_tool(name, args);
  }

  // A key's default value, or none when the key is absent.
  std::optional<std::string> query(std::string_view hive, std::string_view key) const {
    const std::string full = std::string(hive) + "\\" + std::string(key);
    if (!under_wine()) {
      std::string rel = full;
      for (char& c : rel)
        if (c == '\\') c = '/';
      const fs::path value = dir_ / "registry" / rel / "default";
      if (!fs::exists(value)) return std::nullopt;
      return read_text(value);
    }
    const auto r = wine_tool("reg", {"query", full, "/ve"});
    if (r.exit_code != 0) return std::nullopt;
    const std::string mark = "REG_SZ    ";
    const size_t at = r.out.find(mark);
    if (at == std::string::npos) return std::string("(no REG_SZ value) ") + r.out;
    const size_t from = at + mark.size();
    return r.out.substr(from, r.out.find("\r\n", from) - from);
  }

  std::optional<std::string> host_value(std::string_view hive, size_t i) const {
    return query(hive, std::string(kKeys[i]) + "\\" + std::string(kHost));
  }

  // What the stand-in tool was called with, one list per call.
  std::vector<Args> reg_calls() const {
    std::vector<Args> calls;
    std::istringstream in(read_text(dir_ / "reg-calls"));
    for (std::string line; std::getline(in, line);) {
      if (line == "--")
        calls.emplace_back();
      else
        calls.back().push_back(line);
    }
    return calls;
  }

  void expect_keys(std::string_view hive, bool chromium, bool firefox) const {
    for (size_t i = 0; i < 5; ++i) {
      const bool want = i < 4 ? chromium : firefox;
      const auto v = host_value(hive, i);
      if (want)
        EXPECT_EQ(v, host_path(i < 4 ? kChromiumFile : kFirefoxFile)) << hive << " " << kKeys[i];
      else
        EXPECT_EQ(v, std::nullopt) << hive << " " << kKeys[i];
    }
  }

  std::string manifest(std::string_view first_key, std::string_view id) const {
    return "{\n  \"" + std::string(first_key) + "\": [\n    \"" + std::string(id) +
           "\"\n  ],\n  \"description\": \"QAR Torvanel Download Manager\",\n  \"name\": "
           "\"com.qartorvaneldownloadmanager.host\",\n  \"path\": \"" +
           json_escaped(host_path()) + "\",\n  \"type\": \"stdio\"\n}";
  }
  std::string chromium_manifest() const {
    return manifest("allowed_origins", "chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/");
  }
  std::string firefox_manifest() const {
    return manifest("allowed_extensions", "browser@qartorvanel.example");
  }

  std::string registered_line() const {
    return "registered " + std::string(kHost) +
           " for Chrome, Edge, Brave, Helium and the other Chromium browsers (" +
           host_path(kChromiumFile) + "), and for Firefox, Zen and its other forks (" +
           host_path(kFirefoxFile) + ")\n";
  }

  static void clear_wine_keys() {
    const auto error = e2e::clear_wine_registry();
    ASSERT_EQ(error, std::nullopt) << *error;
  }

  fs::path dir_, exe_;
};

TEST_F(Registration, RegisterWritesBothManifestsAndAllKeys) {
  for (int round = 0; round < 2; ++round) {  // a second run leaves the same state
    const auto r = host({"--register"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, registered_line());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_text(dir_ / kChromiumFile), chromium_manifest());
    EXPECT_EQ(read_text(dir_ / kFirefoxFile), firefox_manifest());
    expect_keys("HKCU", true, true);
    expect_keys("HKLM", false, false);
  }
  if (!under_wine()) {
    const auto calls = reg_calls();
    ASSERT_EQ(calls.size(), 10u);
    for (size_t i = 0; i < 5; ++i)
      EXPECT_EQ(calls[i], (Args{"add", "HKCU\\" + std::string(kKeys[i]) + "\\" + std::string(kHost),
                                "/ve", "/t", "REG_SZ", "/d",
                                host_path(i < 4 ? kChromiumFile : kFirefoxFile), "/f"}));
  }
}

TEST_F(Registration, AllUsersAnywhereSelectsTheMachineHive) {
  const auto r = host({"--register", "x", "--all-users"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, registered_line());
  expect_keys("HKLM", true, true);
  expect_keys("HKCU", false, false);

  const auto u = host({"--unregister", "--all-users"});
  EXPECT_EQ(u.exit_code, 0) << u.err;
  EXPECT_EQ(u.out, "unregistered com.qartorvaneldownloadmanager.host\n");
  expect_keys("HKLM", false, false);
}

TEST_F(Registration, UnregisterRemovesKeysAndManifests) {
  ASSERT_EQ(host({"--register"}).exit_code, 0);
  if (under_wine()) {
    const auto add = wine_tool(
        "reg", {"add", "HKCU\\" + std::string(kExtensionKey), "/ve", "/d", "x", "/f", "/reg:32"});
    ASSERT_EQ(add.exit_code, 0) << add.out;
  }
  const auto u = host({"--unregister"});
  EXPECT_EQ(u.exit_code, 0) << u.err;
  EXPECT_EQ(u.out, "unregistered com.qartorvaneldownloadmanager.host\n");
  EXPECT_EQ(u.err, "");
  expect_keys("HKCU", false, false);
  EXPECT_FALSE(fs::exists(dir_ / kChromiumFile));
  EXPECT_FALSE(fs::exists(dir_ / kFirefoxFile));
  if (under_wine()) {
    EXPECT_EQ(query("HKCU", kExtensionKey), std::nullopt);
  } else {
    const auto calls = reg_calls();
    ASSERT_EQ(calls.size(), 11u);
    EXPECT_EQ(calls[10], (Args{"delete", "HKCU\\" + std::string(kExtensionKey), "/f", "/reg:32"}));
  }
}

TEST_F(Registration, UnregisterWithNothingRegisteredStillSucceeds) {
  const auto u = host({"--unregister"});
  EXPECT_EQ(u.exit_code, 0) << u.err;
  EXPECT_EQ(u.out, "unregistered com.qartorvaneldownloadmanager.host\n");
  EXPECT_EQ(u.err, "");
  if (!under_wine()) {
    EXPECT_EQ(reg_calls().size(), 6u);  // every one of them failed
  }
}

TEST_F(Registration, PortableInstallationIsNotRegistered) {
  fs::create_directory(dir_ / "data");
  const auto r = host({"--register"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string(kPrefix) +
                       "portable mode: browser integration is not registered (nothing is written "
                       "outside its folder); install QAR Torvanel Download Manager to use it\n");
  EXPECT_FALSE(fs::exists(dir_ / kChromiumFile));
  EXPECT_FALSE(fs::exists(dir_ / kFirefoxFile));
  EXPECT_TRUE(fs::is_empty(dir_ / "data"));
  expect_keys("HKCU", false, false);
  if (!under_wine()) {
    EXPECT_FALSE(fs::exists(dir_ / "reg-calls"));
  }
}

TEST_F(Registration, UnwritableFirefoxManifestKeepsTheChromiumPart) {
  fs::create_directory(dir_ / kFirefoxFile);
  const auto r = host({"--register"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  const std::string head = std::string(kPrefix) + host_path(kFirefoxFile) + ": ";
  EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
  EXPECT_TRUE(r.err.size() > head.size() + 1 && r.err.find(" (os error ") != std::string::npos &&
              r.err.back() == '\n' && r.err.find('\n') == r.err.size() - 1)
      << r.err;
  EXPECT_EQ(read_text(dir_ / kChromiumFile), chromium_manifest());
  expect_keys("HKCU", true, false);
}

TEST_F(Registration, RegFailureEndsWithItsTrimmedErrorText) {
  if (under_wine()) GTEST_SKIP() << "Wine's reg.exe cannot be made to fail on demand";
  // One U+FFFD for each invalid sequence: a lone byte, a cut 3-byte and a cut 4-byte one.
  write_text(dir_ / "reg-fail",
             " \t\xFF ERROR: A\xE2\x82"
             "B\xF0\x9F\x98"
             "C denied.\r\n\n");
  const auto r = host({"--register", "--all-users"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string(kPrefix) +
                       "\xEF\xBF\xBD ERROR: A\xEF\xBF\xBD"
                       "B\xEF\xBF\xBD"
                       "C denied.\n");
  // The first failure ends the mode; the manifest written before it stays.
  EXPECT_EQ(reg_calls().size(), 1u);
  EXPECT_EQ(read_text(dir_ / kChromiumFile), chromium_manifest());
  EXPECT_FALSE(fs::exists(dir_ / kFirefoxFile));
}

TEST_F(Registration, MissingRegToolIsReported) {
  if (under_wine()) GTEST_SKIP() << "Wine always has reg.exe in its system folder";
  fs::remove(dir_ / "reg");
  const std::map<std::string, std::string> no_path = {{"PATH", dir_.string() + "/nowhere"}};
  const auto r = host({"--register"}, no_path);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, std::string(kPrefix) + "No such file or directory (os error 2)\n");
  EXPECT_TRUE(fs::exists(dir_ / kChromiumFile));

  const auto u = host({"--unregister"}, no_path);
  EXPECT_EQ(u.exit_code, 0) << u.err;
  EXPECT_EQ(u.out, "unregistered com.qartorvaneldownloadmanager.host\n");
  EXPECT_FALSE(fs::exists(dir_ / kChromiumFile));
}

}  // namespace
