// --register and --unregister: natively against a stand-in `reg` script that
// keeps keys in a file, under Wine against Wine's reg.exe, read back by regedit.
#include <gtest/gtest.h>

#include "harness.hpp"

namespace e2e {
namespace {

using Keys = std::map<std::string, std::string>;

const std::string kChromiumFile = kHost + ".json", kFirefoxFile = kHost + ".firefox.json";
const std::string kUnregistered = "unregistered " + kHost + "\n";

// Keeps "key<tab>default value" lines in `registry`.
constexpr std::string_view kStandInReg = R"sh(#!/bin/sh
cd "$(dirname "$0")" || exit 2
printf '%s|' "$@" >>reg-calls && echo >>reg-calls
if [ -f reg-fail ]; then cat reg-fail >&2; exit 1; fi
touch registry && K="$2" awk -F '\t' '$1 != ENVIRON["K"]' registry >registry.new
case "$1" in
add) printf '%s\t%s\n' "$2" "$7" >>registry.new ;;
delete)
  if cmp -s registry registry.new; then echo "ERROR: The system was unable to find the specified registry key or value." >&2; exit 1; fi ;;
*) exit 2 ;;
esac
mv registry.new registry
)sh";

// A copy of the host; spaces in both folder levels, so every path must stay whole.
struct Install {
  TempFolder base;
  fs::path dir = base.path() / "nm reg e2e" / "host folder", exe = dir / host_exe().filename();

  Install() {
    fs::create_directories(dir);
    fs::copy_file(host_exe(), exe);
    if (under_wine()) {
      clear_wine_registry();
    } else {
      write_text(dir / "reg", kStandInReg);
      fs::permissions(dir / "reg", fs::perms::owner_all, fs::perm_options::add);
    }
  }
  ~Install() {
    if (under_wine()) clear_wine_registry();
  }
  std::string path(const std::string& name = {}) const {
    return host_path(name.empty() ? exe : dir / name);
  }

  // The default value of every key of ours, by full name.
  Keys keys() const {
    Keys found;
    const auto keep = [&](const std::string& name, const std::string& value) {
      if (name.ends_with("\\" + kHost) || name.ends_with("\\" + kPending)) found[name] = value;
    };
    if (!under_wine()) {
      for (const auto& line : lines(read_text(dir / "registry")))
        keep(line.substr(0, line.find('\t')), line.substr(line.find('\t') + 1));
      return found;
    }
    // One export of the small HKCU\Software; of the machine's large one, our keys.
    std::vector<std::string> exports = {"HKEY_CURRENT_USER\\Software"};
    for (const char* key : kKeys) exports.push_back("HKEY_LOCAL_MACHINE\\" + std::string(key));
    for (const auto& root : exports) {
      const fs::path file = base.path() / "export.reg";
      fs::remove(file);
      wine_tool("regedit", {"/E", host_path(file), root});  // nothing when the key is absent
      std::string text, key;  // UTF-16LE; our names and paths are ASCII
      for (const char c : read_text(file))
        if (c != '\0' && c != '\r') text += c;
      for (const auto& line : lines(text)) {
        if (line.starts_with("[HKEY_")) {
          key = (root.starts_with("HKEY_C") ? "HKCU" : "HKLM") +
                line.substr(line.find('\\'), line.size() - line.find('\\') - 1);
        } else if (line.starts_with("@=\"")) {
          std::string value;
          for (size_t i = 3; i + 1 < line.size(); ++i) value += line[i += line[i] == '\\'];
          keep(key, value);
        }
      }
    }
    return found;
  }

  Keys registered(const std::string& hive, bool firefox = true) const {
    Keys keys;
    for (size_t i = 0; i < (firefox ? 5 : 4); ++i)
      keys[hive + "\\" + kKeys[i] + "\\" + kHost] = path(i < 4 ? kChromiumFile : kFirefoxFile);
    return keys;
  }

  std::string manifest(bool firefox) const {
    std::string escaped;
    for (const char c : path()) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return "{\n  \"" +
           std::string(firefox ? "allowed_extensions\": [\n    \"browser@qartorvanel.example"
                               : "allowed_origins\": [\n    \"" + std::string(kOrigin)) +
           "\"\n  ],\n  \"description\": \"QAR Torvanel Download Manager\",\n  \"name\": \"" +
           kHost + "\",\n  \"path\": \"" + escaped + "\",\n  \"type\": \"stdio\"\n}";
  }
};

// One installation through a sequence of runs; each leaves its state, and
// --all-users anywhere selects the machine hive.
TEST(Registration, RegisterAndUnregisterInEitherHive) {
  Install in;
  const std::string registered =
      "registered " + kHost + " for Chrome, Edge, Brave, Helium and the other Chromium browsers (" +
      in.path(kChromiumFile) + "), and for Firefox, Zen and its other forks (" +
      in.path(kFirefoxFile) + ")\n";
  const struct {
    std::vector<std::string> args;
    std::string hive;      // registered there; none: unregistered
    size_t calls;          // the stand-in's, so far; an unregister deletes six keys
    bool pending = false;  // the pending extension key is there first
  } steps[] = {
      {{"--register"}, "HKCU", 5},
      {{"--register"}, "HKCU", 10},      // a second run leaves the same state
      {{"--unregister"}, "", 16, true},  // removed too, in the 32-bit view
      {{"--unregister"}, "", 22},        // with nothing registered, every delete fails
      {{"--register", "x", "--all-users"}, "HKLM", 27},
      {{"--unregister", "--all-users"}, "", 33},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.args.back() + " " + std::to_string(s.calls));
    if (s.pending && under_wine()) {
      const auto add =
          wine_tool("reg", {"add", "HKCU\\" + kExtensionKey, "/ve", "/d", "x", "/f", "/reg:32"});
      ASSERT_EQ(add.exit_code, 0) << add.out;
    } else if (s.pending) {
      write_text(in.dir / "registry", "HKCU\\" + kExtensionKey + "\tx\n");
    }
    const auto r = run({.args = s.args, .exe = in.exe});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, s.hive.empty() ? kUnregistered : registered);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_text(in.dir / kChromiumFile), s.hive.empty() ? "" : in.manifest(false));
    EXPECT_EQ(read_text(in.dir / kFirefoxFile), s.hive.empty() ? "" : in.manifest(true));
    EXPECT_EQ(fs::exists(in.dir / kChromiumFile), !s.hive.empty());
    EXPECT_EQ(in.keys(), s.hive.empty() ? Keys{} : in.registered(s.hive));
    if (under_wine()) continue;
    const auto calls = lines(read_text(in.dir / "reg-calls"));
    ASSERT_EQ(calls.size(), s.calls);
    if (s.pending) {
      EXPECT_EQ(calls.back(), "delete|HKCU\\" + kExtensionKey + "|/f|/reg:32|");
    }
  }
  // A result line that cannot be written fails the mode.
  Session unread({.args = {"--unregister"}, .exe = in.exe});
  unread.close_output();
  EXPECT_EQ(unread.finish().exit_code, 1);
}

// The registry tool is looked for beside the host first, where a folder of
// its name is passed over, and then on the PATH (Windows keeps it in System32).
TEST(Registration, RegistryToolFurtherDownTheList) {
  if (under_wine()) GTEST_SKIP() << "Wine's reg.exe is in its system folder";
  Install in;
  fs::create_directories(in.dir / "tools");
  fs::rename(in.dir / "reg", in.dir / "tools" / "reg");
  fs::create_directory(in.dir / "reg");
  const auto r = run({.args = {"--register"},
                      .env = {{"PATH", (in.dir / "tools").string() + ":/usr/bin:/bin"}},
                      .exe = in.exe});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(lines(read_text(in.dir / "tools" / "registry")).size(), 5u);
}

// A failure ends the mode with exit code 1 and one line; what was written
// before it stays. Wine always has its reg.exe, which cannot be made to fail.
TEST(Registration, Failures) {
  const std::string portable =
      "portable mode: browser integration is not registered (nothing is written outside its "
      "folder); install QAR Torvanel Download Manager to use it\n";
  // The tool's own words, trimmed, and made UTF-8 as the text tests show.
  const std::string reg_error = " \t\xFF ERROR: Access is denied.\r\n\n";
  const std::string reg_line = "\xEF\xBF\xBD ERROR: Access is denied.\n";
  const std::string enoent = "No such file or directory (os error 2)\n";
  const struct {
    std::string dir, file, text;  // made in the host's folder first
    bool no_reg;                  // and no reg tool anywhere
    std::vector<std::string> args;
    std::string err;  // after the prefix; "(os error)": the Firefox manifest's OS error
    bool chromium_manifest, chromium_keys;
    int calls;  // the stand-in's; -1: not under Wine
  } cases[] = {
      {"data", "", "", false, {"--register"}, portable, false, false, 0},
      {kFirefoxFile, "", "", false, {"--register"}, "(os error)", true, true, 4},
      {"", "reg-fail", reg_error, false, {"--register", "--all-users"}, reg_line, true, false, -1},
      {"", "", "", true, {"--register"}, enoent, true, false, -1},
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
    const auto r = run({.args = c.args, .env = env, .exe = in.exe});
    EXPECT_EQ(r.exit_code, c.err.empty() ? 0 : 1);
    EXPECT_EQ(r.out, c.err.empty() ? kUnregistered : "");
    const std::string head = kPrefix + in.path(kFirefoxFile) + ": ";
    if (c.err == "(os error)") {  // the system's text
      EXPECT_TRUE(r.err.starts_with(head) && r.err.find(" (os error ") != std::string::npos &&
                  r.err.find('\n') == r.err.size() - 1)
          << r.err;
    } else {
      EXPECT_EQ(r.err, c.err.empty() ? "" : kPrefix + c.err);
    }
    EXPECT_EQ(read_text(in.dir / kChromiumFile), c.chromium_manifest ? in.manifest(false) : "");
    EXPECT_FALSE(fs::is_regular_file(in.dir / kFirefoxFile));
    if (!c.no_reg) {
      EXPECT_EQ(in.keys(), c.chromium_keys ? in.registered("HKCU", false) : Keys{});
    }
    EXPECT_TRUE(c.dir != "data" || fs::is_empty(in.dir / "data"));
    if (!under_wine() && !c.no_reg) {
      EXPECT_EQ(lines(read_text(in.dir / "reg-calls")).size(), size_t(c.calls < 0 ? 1 : c.calls));
    }
  }
}

}  // namespace
}  // namespace e2e
