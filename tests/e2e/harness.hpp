#pragma once
// Drives a built host over real pipes: the native program, or nmhost.exe
// under Wine, as the environment of the test run says.
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

// NMHOST_EXE: the host under test; an .exe is a Windows program run under Wine.
fs::path host_exe();
bool under_wine();
// A tool of that build by its base name ("qtm-standin" -> ...exe under Wine).
fs::path tool_exe(std::string_view name);
// A path as the program under test sees it (Z:\... under Wine).
std::string host_path(const fs::path& p);
// nmhost-doctor of the same build, beside the host.
fs::path doctor_exe();

// The origin the host accepts.
inline constexpr const char* kOrigin = "chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/";
// What the host puts before the one line it writes on standard error.
inline const std::string kPrefix = "qartorvaneldownloadmanager-nmhost: ";
inline constexpr const char* kChromeUa =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Safari/537.36";
inline constexpr const char* kFirefoxUa =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:133.0) Gecko/20100101 Firefox/133.0";

std::string frame(std::string_view body);
// Splits a stream of reply frames; a torn frame at the end is returned as is
// in `rest`.
std::vector<std::string> split_frames(std::string_view bytes, std::string* rest = nullptr);

struct RunOptions {
  std::vector<std::string> args;
  std::string input;
  std::map<std::string, std::string> env;  // added or replaced
  std::vector<std::string> unset_env;
  std::optional<fs::path> exe;  // another copy of the program
  std::optional<fs::path> cwd;
  std::chrono::milliseconds timeout{30000};
};

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
  bool timed_out = false;
};

// A request line as the stand-in records it: every key at its empty value
// but those given, in raw JSON ("cookie_jar" is written only when there is
// one: give it within the value of "cookies").
std::string request_line(const std::vector<std::pair<std::string, std::string>>& set);

// Starts the program, writes the input, closes standard input, reads both
// outputs to their ends and waits.
RunResult run(const RunOptions& options);

// A running host for a conversation: write frames, read replies one by one.
class Session {
 public:
  explicit Session(const RunOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool write(std::string_view bytes);
  // The next reply body; none on time-out or end of output.
  std::optional<std::string> read_reply(
      std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Closes standard input and waits for the end.
  RunResult finish(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  void close_output();  // closes our end of the host's standard output
  int pid() const { return pid_; }

 private:
  bool fill(std::chrono::milliseconds timeout);
  int pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string out_buf_, err_buf_;
};

class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "nmhost-e2e-");
  ~TempDir();
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string read_text(const fs::path& p);
void write_text(const fs::path& p, std::string_view text);

// A program of Wine's own, such as reg or regedit, run under Wine.
RunResult wine_tool(const char* name, const std::vector<std::string>& args);
// Removes every key that registration writes, in both hives and both
// registry views, with one regedit run; the error is regedit's output.
// Under Wine only: its registry is shared by every test of the prefix.
std::optional<std::string> clear_wine_registry();

// The stand-in application (tools/standin), running on a data directory
// until the object goes; its token is "t0k".
class App {
 public:
  explicit App(const fs::path& data, std::vector<std::string> options = {});
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

 private:
  fs::path data_;
  std::unique_ptr<Session> session_;
};

// A data directory of its own, and the host run on it with the accepted
// caller.
struct Host {
  TempDir data;
  // The lines of requests.jsonl: what the stand-in was sent.
  std::vector<std::string> requests() const;
  // The log's messages, time stamps checked and removed.
  std::vector<std::string> log() const;
  // One host run with these message bodies; the reply bodies. The run must
  // end with exit code 0.
  std::vector<std::string> talk(const std::vector<std::string>& bodies,
                                std::map<std::string, std::string> env = {},
                                std::optional<fs::path> exe = std::nullopt) const;
  // The one reply to one message ("<N replies>" otherwise).
  std::string one(const std::string& body) const;
  RunOptions options(std::map<std::string, std::string> env = {},
                     std::optional<fs::path> exe = std::nullopt) const;
};

// The host in a folder of its own, where an app-path file may name the
// program it starts.
struct InstalledHost : Host {
  TempDir install;
  fs::path exe = install.path() / host_exe().filename();
  InstalledHost() { fs::copy_file(host_exe(), exe); }
};

}  // namespace e2e
