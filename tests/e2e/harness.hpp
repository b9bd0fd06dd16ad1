#pragma once
// Drives the host NMHOST_EXE names (an .exe under Wine) over real pipes; POSIX.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "host/extension_ids.hpp"
#include "os/fs.hpp"
#include "os/net.hpp"
#include "support/fixtures.hpp"

extern char** environ;

namespace e2e {
// Unnamed, as the shared TempFolder is: each test file has its own copy.
namespace {

namespace fs = std::filesystem;
using Ms = std::chrono::milliseconds;

inline constexpr const char* kOrigin = "chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc/";
inline const std::string kPrefix = "qartorvaneldownloadmanager-nmhost: ";
inline constexpr const char* kChromeUa =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Safari/537.36";
inline constexpr const char* kFirefoxUa =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:133.0) Gecko/20100101 Firefox/133.0";

inline fs::path host_exe() {
  const char* exe = std::getenv("NMHOST_EXE");
  return exe ? exe : "";
}
inline bool under_wine() {
  return host_exe().extension() == ".exe";
}
// A program of the same build: a tool ("tools/qtm-standin") or the doctor.
inline fs::path build_exe(std::string_view name) {
  fs::path p = host_exe().parent_path() / std::string(name);
  return p += host_exe().extension();
}
// A path as the program under test sees it (Z:\... under Wine).
inline std::string host_path(const fs::path& p) {
  if (!under_wine()) return p.string();
  std::string s = "Z:" + fs::absolute(p).string();
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

inline std::string read_text(const fs::path& p) {
  auto text = nm::os::read_file(p);
  return text ? *text : "";
}
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
inline void write_text(const fs::path& p, std::string_view text) {
  (void)nm::os::write_file(p, text);
}

inline uint16_t stale_port() {
  auto listener = nm::os::TcpListener::bind_loopback();
  return listener ? listener->port() : 0;
}

inline std::string frame(std::string_view body) {
  std::string f;
  for (int i = 0; i < 4; ++i) f += static_cast<char>(body.size() >> (8 * i) & 0xFF);
  return f += body;
}
// The first whole frame's body, taken off the front of `bytes`.
inline std::optional<std::string> take_frame(std::string_view& bytes) {
  if (bytes.size() < 4) return std::nullopt;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const uint32_t n = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
  if (bytes.size() - 4 < n) return std::nullopt;
  std::string body(bytes.substr(4, n));
  bytes.remove_prefix(4 + n);
  return body;
}
// A torn frame at the end is left in `rest`.
inline std::vector<std::string> split_frames(std::string_view bytes, std::string* rest = nullptr) {
  std::vector<std::string> frames;
  while (auto body = take_frame(bytes)) frames.push_back(std::move(*body));
  if (rest) *rest = std::string(bytes);
  return frames;
}

struct RunOptions {
  std::vector<std::string> args{};
  std::string input{};
  std::map<std::string, std::string> env{};  // added or replaced
  std::optional<fs::path> exe{};             // instead of the host under test
  Ms timeout{30000};
  std::optional<fs::path> cwd{};  // the program's current folder
};

struct RunResult {
  int exit_code = -1;
  std::string out, err;
};

// A running program for a conversation: write frames, read replies one by one.
class Session {
 public:
  explicit Session(const RunOptions& o) {
    int p[3][2];  // standard input, output and error; the child's end is p[i][i != 0]
    for (auto& fds : p)
      if (pipe2(fds, O_CLOEXEC)) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (int i = 0; i < 3; ++i) posix_spawn_file_actions_adddup2(&fa, p[i][i != 0], i);
    if (o.cwd) posix_spawn_file_actions_addchdir_np(&fa, o.cwd->c_str());
    const fs::path exe = o.exe ? *o.exe : host_exe();
    std::vector<std::string> args = {exe.string()}, env;
    if (under_wine()) args.insert(args.begin(), "wine");
    args.insert(args.end(), o.args.begin(), o.args.end());
    auto set = o.env;
    if (under_wine()) {
      set["WINEDEBUG"] = "-all";
      // Wine reads names, arguments and variables in the locale's encoding.
      set["LC_ALL"] = "C.UTF-8";
    }
    for (char** e = environ; *e; ++e)
      if (const std::string kv = *e; !set.contains(kv.substr(0, kv.find('=')))) env.push_back(kv);
    for (const auto& [k, v] : set) env.push_back(k + "=" + v);
    const auto pointers = [](std::vector<std::string>& strings) {
      std::vector<char*> p;
      for (auto& s : strings) p.push_back(s.data());
      p.push_back(nullptr);
      return p;
    };
    const int rc = posix_spawnp(&pid_, args[0].c_str(), &fa, nullptr, pointers(args).data(),
                                pointers(env).data());
    posix_spawn_file_actions_destroy(&fa);
    for (int i = 0; i < 3; ++i) ::close(p[i][i != 0]);
    in_ = p[0][1], out_ = p[1][0], err_ = p[2][0];
    if (rc != 0) throw std::runtime_error("cannot start " + exe.string());
    signal(SIGPIPE, SIG_IGN);
  }
  ~Session() {
    for (const int fd : {in_, out_, err_})
      if (fd >= 0) ::close(fd);
    if (int st; pid_ > 0 && waitpid(pid_, &st, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &st, 0);
    }
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Reads the outputs while writing: a host answering a long input must not block.
  bool write(std::string_view bytes) {
    fcntl(in_, F_SETFL, fcntl(in_, F_GETFL) | O_NONBLOCK);
    while (!bytes.empty()) {
      const ssize_t w = ::write(in_, bytes.data(), std::min<size_t>(bytes.size(), 65536));
      if (w > 0) {
        bytes.remove_prefix(static_cast<size_t>(w));
      } else if (errno != EINTR) {
        if (errno != EAGAIN) return false;
        pollfd fds[3] = {{in_, POLLOUT, 0}, {out_, POLLIN, 0}, {err_, POLLIN, 0}};
        poll(fds, 3, 1000);
        if (fds[1].revents || fds[2].revents) fill(Ms(0));
      }
    }
    return true;
  }
  std::optional<std::string> read_reply(Ms timeout = Ms(30000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      std::string_view bytes = out_buf_;
      if (auto body = take_frame(bytes)) {
        out_buf_.erase(0, out_buf_.size() - bytes.size());
        return body;
      }
      if (until(deadline).count() <= 0 || out_ < 0) return std::nullopt;
      fill(until(deadline));
    }
  }
  // Closes standard input and waits for the end.
  RunResult finish(Ms timeout = Ms(30000)) {
    close_fd(in_);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while ((out_ >= 0 || err_ >= 0) && until(deadline).count() > 0) fill(until(deadline));
    if (out_ >= 0 || err_ >= 0) kill(pid_, SIGKILL);
    int st = 0;
    waitpid(pid_, &st, 0);
    pid_ = -1;
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, std::move(out_buf_), std::move(err_buf_)};
  }
  void close_output() { close_fd(out_); }
  int pid() const { return pid_; }

 private:
  static Ms until(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
  }
  static void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  void fill(Ms timeout) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if ((out_ < 0 && err_ < 0) || poll(fds, 2, static_cast<int>(timeout.count())) <= 0) return;
    char buf[65536];
    for (int i = 0; i < 2; ++i) {
      int& fd = i == 0 ? out_ : err_;
      if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0)
        (i == 0 ? out_buf_ : err_buf_).append(buf, static_cast<size_t>(n));
      else if (n == 0 || errno != EINTR)
        close_fd(fd);
    }
  }
  int pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string out_buf_, err_buf_;
};

// Writes the input, closes standard input, reads both outputs to their ends.
inline RunResult run(const RunOptions& o) {
  Session s(o);
  s.write(o.input);
  return s.finish(o.timeout);
}

inline RunResult wine_tool(const char* name, const std::vector<std::string>& args) {
  return run({.args = args, .exe = fs::path(name)});
}

// The host's key under each browser family, and the pending extension's key.
inline const std::string kHost = "com.qartorvaneldownloadmanager.host";
inline const char* const kKeys[] = {
    "Software\\Google\\Chrome\\NativeMessagingHosts",
    "Software\\Chromium\\NativeMessagingHosts",
    "Software\\Microsoft\\Edge\\NativeMessagingHosts",
    "Software\\BraveSoftware\\Brave-Browser\\NativeMessagingHosts",
    "Software\\Mozilla\\NativeMessagingHosts",
};
inline const std::string kPending(nm::host::kQarStoreIdPending);
inline const std::string kExtensionKey = "Software\\Google\\Chrome\\Extensions\\" + kPending;

// Removes them in both hives and views: Wine's registry is shared by every test.
inline void clear_wine_registry() {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (const std::string hive : {"[-HKEY_CURRENT_USER\\", "[-HKEY_LOCAL_MACHINE\\"}) {
    // The second spelling is what 32-bit programs see.
    for (const std::string view : {"Software", "Software\\Wow6432Node"}) {
      for (const std::string key : kKeys)
        text += hive + view + key.substr(8) + "\\" + kHost + "]\r\n";
      text += hive + view + kExtensionKey.substr(8) + "]\r\n";
    }
  }
  const fs::path file = fs::temp_directory_path() / ("nm-reg-clear-" + std::to_string(getpid()));
  write_text(file, text);
  const auto r = wine_tool("regedit", {"/S", host_path(file)});
  fs::remove(file);
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
}

// The stand-in application on a data directory while the object lives; token "t0k".
struct App : Session {
  explicit App(const fs::path& data, std::vector<std::string> options = {})
      : Session(standin(data, std::move(options))), data(data) {
    for (int i = 0; i < 400 && !fs::exists(data / "ipc.json"); ++i)
      std::this_thread::sleep_for(Ms(25));
  }
  ~App() {
    write_text(data / "standin.stop", "");
    finish(Ms(10000));
  }
  static RunOptions standin(const fs::path& data, std::vector<std::string> options) {
    options.insert(options.end(), {"--token", "t0k", host_path(data)});
    return {.args = std::move(options), .exe = build_exe("tools/qtm-standin")};
  }
  fs::path data;
};

// The messages of the data directory's log, time stamps checked and removed.
inline std::vector<std::string> log_messages(const fs::path& data) {
  static const std::regex line(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z  INFO nmhost qtm_nmhost: ([^\n]*)\n)");
  const std::string text = read_text(data / "logs" / "qtm.log");
  std::vector<std::string> out;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
    out.push_back((*it)[1]);
  return out;
}

// The host (or a copy, exe) run on a data directory of its own by the companion.
struct Host {
  TempFolder data;
  std::optional<fs::path> exe;

  std::vector<std::string> requests() const {
    return lines(read_text(data.path() / "requests.jsonl"));
  }
  std::vector<std::string> log() const { return log_messages(data.path()); }
  RunOptions options(std::map<std::string, std::string> env = {}) const {
    env["QTM_DATA_DIR"] = host_path(data.path());
    return {.args = {kOrigin}, .env = std::move(env), .exe = exe};
  }
  // One run with these message bodies that must end with code 0; the replies.
  std::vector<std::string> talk(const std::vector<std::string>& bodies,
                                std::map<std::string, std::string> env = {}) const {
    RunOptions o = options(std::move(env));
    for (const auto& b : bodies) o.input += frame(b);
    const auto r = run(o);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return split_frames(r.out);
  }
};

// The host in a folder of its own, where app-path may name the program to start.
struct InstalledHost : Host {
  TempFolder install;
  InstalledHost() { fs::copy_file(host_exe(), *(exe = install.path() / host_exe().filename())); }
};

}  // namespace
}  // namespace e2e
