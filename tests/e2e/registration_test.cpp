// --register and --unregister against the built host. Natively a stand-in
// `reg` script beside the host keeps "keys" as files and records its
// arguments; under Wine the host runs Wine's own reg.exe and the keys are read
// back with it.
#include <gtest/gtest.h>

#include <sstream>

#include "harness.hpp"

namespace e2e {
namespace {

using Args = std::vector<std::string>;

const std::string kHost = "com.qartorvaneldownloadmanager.host";
const std::string kChromiumFile = kHost + ".json", kFirefoxFile = kHost + ".firefox.json";
const std::string kUnregistered = "unregistered " + kHost + "\n";
const char* const kKeys[] = {
    "Software\\Google\\Chrome\\NativeMessagingHosts",
    "Software\\Chromium\\NativeMessagingHosts",
    "Software\\Microsoft\\Edge\\NativeMessagingHosts",
    "Software\\BraveSoftware\\Brave-Browser\\NativeMessagingHosts",
    "Software\\Mozilla\\NativeMessagingHosts",
};
const std::string kExtensionKey = "Software\\Google\\Chrome\\Extensions\\kQarStoreIdPending";

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

// A copy of the host in a folder of its own; spaces in both levels, so that
// every path the host passes on must stay whole.
struct Install {
  TempDir base{"nm reg e2e "};
  fs::path dir = base.path() / "host folder", exe = dir / host_exe().filename();

  Install() {
    fs::create_directories(dir);
    fs::copy_file(host_exe(), exe);
    if (under_wine()) {
      clear_keys();
    } else {
      write_text(dir / "reg", kStandInReg);
      fs::permissions(dir / "reg", fs::perms::owner_all, fs::perm_options::add);
    }
  }
  ~Install() {
    if (under_wine()) clear_keys();
  }
  static void clear_keys() {
    const auto error = clear_wine_registry();
    ASSERT_EQ(error, std::nullopt) << *error;
  }

  std::string path(const std::string& name = {}) const {
    return host_path(name.empty() ? exe : dir / name);
  }
  RunResult host(const Args& args, std::map<std::string, std::string> env = {}) const {
    RunOptions o;
    o.args = args;
    o.env = std::move(env);
    o.exe = exe;
    return run(o);
  }

  // A key's default value, or none when the key is absent.
  std::optional<std::string> query(const std::string& full) const {
    if (!under_wine()) {
      std::string rel = full;
      std::replace(rel.begin(), rel.end(), '\\', '/');
      const fs::path value = dir / "registry" / rel / "default";
      if (!fs::exists(value)) return std::nullopt;
      return read_text(value);
    }
    const auto r = wine_tool("reg", {"query", full, "/ve"});
    if (r.exit_code != 0) return std::nullopt;
    const std::string mark = "REG_SZ    ";
    const size_t at = r.out.find(mark);
    if (at == std::string::npos) return "(no REG_SZ value) " + r.out;
    return r.out.substr(at + mark.size(), r.out.find("\r\n", at) - at - mark.size());
  }

  // What the stand-in tool was called with, one list per call.
  std::vector<Args> reg_calls() const {
    std::vector<Args> calls;
    std::istringstream in(read_text(dir / "reg-calls"));
    for (std::string line; std::getline(in, line);) {
      if (line == "--")
        calls.emplace_back();
      else
        calls.back().push_back(line);
    }
    return calls;
  }

  void expect_keys(const std::string& hive, bool chromium, bool firefox) const {
    for (size_t i = 0; i < 5; ++i) {
      const auto v = query(hive + "\\" + kKeys[i] + "\\" + kHost);
      if (i < 4 ? chromium : firefox)
        EXPECT_EQ(v, path(i < 4 ? kChromiumFile : kFirefoxFile)) << hive << " " << kKeys[i];
      else
        EXPECT_EQ(v, std::nullopt) << hive << " " << kKeys[i];
    }
  }

  std::string manifest(const std::string& first_key, const std::string& id) const {
    std::string escaped;
    for (const char c : path()) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return "{\n  \"" + first_key + "\": [\n    \"" + id +
           "\"\n  ],\n  \"description\": \"QAR Torvanel Download Manager\",\n  \"name\": \"" +
           kHost + "\",\n  \"path\": \"" + escaped + "\",\n  \"type\": \"stdio\"\n}";
  }
  std::string chromium_manifest() const {
    return manifest("allowed_origins", "chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/");
  }
  std::string firefox_manifest() const {
    return manifest("allowed_extensions", "browser@qartorvanel.example");
  }
  std::string registered_line() const {
    return "registered " + kHost +
           " for Chrome, Edge, Brave, Helium and the other Chromium browsers (" +
           path(kChromiumFile) + "), and for Firefox, Zen and its other forks (" +
           path(kFirefoxFile) + ")\n";
  }
};

// One installation through a sequence of runs; each leaves its state, and
// --all-users anywhere selects the machine hive.
TEST(Registration, RegisterAndUnregisterInEitherHive) {
  Install in;
  const struct {
    Args args;
    bool registered;
    std::string hive;
    size_t calls;  // the stand-in's, so far; an unregister deletes six keys
  } steps[] = {
      {{"--register"}, true, "HKCU", 5},
      {{"--register"}, true, "HKCU", 10},  // a second run leaves the same state
      {{"--unregister"}, false, "HKCU", 16},
      {{"--unregister"}, false, "HKCU", 22},  // with nothing registered, every delete fails
      {{"--register", "x", "--all-users"}, true, "HKLM", 27},
      {{"--unregister", "--all-users"}, false, "HKLM", 33},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.args.back() + " " + std::to_string(s.calls));
    if (s.calls == 16 && under_wine()) {
      const auto add =
          wine_tool("reg", {"add", "HKCU\\" + kExtensionKey, "/ve", "/d", "x", "/f", "/reg:32"});
      ASSERT_EQ(add.exit_code, 0) << add.out;
    }
    const auto r = in.host(s.args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, s.registered ? in.registered_line() : kUnregistered);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_text(in.dir / kChromiumFile), s.registered ? in.chromium_manifest() : "");
    EXPECT_EQ(read_text(in.dir / kFirefoxFile), s.registered ? in.firefox_manifest() : "");
    EXPECT_EQ(fs::exists(in.dir / kChromiumFile), s.registered);
    in.expect_keys(s.hive, s.registered, s.registered);
    in.expect_keys(s.hive == "HKCU" ? "HKLM" : "HKCU", false, false);
    if (under_wine()) {
      if (s.calls == 16) {
        EXPECT_EQ(in.query("HKCU\\" + kExtensionKey), std::nullopt);
      }
      continue;
    }
    const auto calls = in.reg_calls();
    ASSERT_EQ(calls.size(), s.calls);
    for (size_t i = 0; s.calls == 5 && i < 5; ++i) {
      EXPECT_EQ(calls[i],
                (Args{"add", "HKCU\\" + std::string(kKeys[i]) + "\\" + kHost, "/ve", "/t", "REG_SZ",
                      "/d", in.path(i < 4 ? kChromiumFile : kFirefoxFile), "/f"}));
    }
    if (s.calls == 16) {
      EXPECT_EQ(calls.back(), (Args{"delete", "HKCU\\" + kExtensionKey, "/f", "/reg:32"}));
    }
  }
}

// A failure ends the mode with exit code 1 and one line; what was written
// before it stays. Wine always has its reg.exe, which cannot be made to fail.
TEST(Registration, Failures) {
  const struct {
    std::string dir, file, text;  // made in the host's folder first
    bool no_reg;                  // and no reg tool anywhere
    Args args;
    std::string err;  // after the prefix; "(os error)": the Firefox manifest's OS error
    bool chromium_manifest, chromium_keys;
    int calls;  // the stand-in's; -1: not under Wine
  } cases[] = {
      {"data",
       "",
       "",
       false,
       {"--register"},
       "portable mode: browser integration is not registered (nothing is written outside its "
       "folder); install QAR Torvanel Download Manager to use it\n",
       false,
       false,
       0},
      {kFirefoxFile, "", "", false, {"--register"}, "(os error)", true, true, 4},
      // One U+FFFD for each invalid sequence: a lone byte, a cut 3-byte and a cut 4-byte one.
      {"",
       "reg-fail",
       " \t\xFF ERROR: A\xE2\x82"
       "B\xF0\x9F\x98"
       "C denied.\r\n\n",
       false,
       {"--register", "--all-users"},
       "\xEF\xBF\xBD ERROR: A\xEF\xBF\xBD"
       "B\xEF\xBF\xBD"
       "C denied.\n",
       true,
       false,
       -1},
      {"",
       "",
       "",
       true,
       {"--register"},
       "No such file or directory (os error 2)\n",
       true,
       false,
       -1},
      {"", kChromiumFile, "{}", true, {"--unregister"}, "", false, false, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir + c.file + c.args[0]);
    if (under_wine() && c.calls < 0) continue;
    Install in;
    if (!c.dir.empty()) fs::create_directory(in.dir / c.dir);
    if (!c.file.empty()) write_text(in.dir / c.file, c.text);
    std::map<std::string, std::string> env;
    if (c.no_reg) {
      fs::remove(in.dir / "reg");
      env["PATH"] = (in.dir / "nowhere").string();
    }
    const auto r = in.host(c.args, env);
    EXPECT_EQ(r.exit_code, c.err.empty() ? 0 : 1);
    EXPECT_EQ(r.out, c.err.empty() ? kUnregistered : "");
    if (c.err == "(os error)") {
      const std::string head = kPrefix + in.path(kFirefoxFile) + ": ";
      EXPECT_TRUE(r.err.starts_with(head) && r.err.size() > head.size() + 1 &&
                  r.err.find(" (os error ") != std::string::npos &&
                  r.err.find('\n') == r.err.size() - 1)
          << r.err;
    } else {
      EXPECT_EQ(r.err, c.err.empty() ? "" : kPrefix + c.err);
    }
    EXPECT_EQ(read_text(in.dir / kChromiumFile), c.chromium_manifest ? in.chromium_manifest() : "");
    EXPECT_FALSE(fs::is_regular_file(in.dir / kFirefoxFile));
    if (!c.no_reg) in.expect_keys(c.args.size() > 1 ? "HKLM" : "HKCU", c.chromium_keys, false);
    EXPECT_TRUE(c.dir != "data" || fs::is_empty(in.dir / "data"));
    if (!under_wine() && !c.no_reg) {
      EXPECT_EQ(in.reg_calls().size(), size_t(c.calls < 0 ? 1 : c.calls));
    }
  }
}

}  // namespace
}  // namespace e2e
