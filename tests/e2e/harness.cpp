// The end-to-end driver is a Linux program: it uses POSIX directly.
#include "harness.hpp"

#include "ipc/extension_ids.hpp"
#include "nmhost/manifest.hpp"
#include "nmhost/registration.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {

static std::string env_or(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v ? v : fallback;
}

fs::path host_exe() {
  return env_or("NMHOST_EXE", "");
}
bool under_wine() {
  return host_exe().extension() == ".exe";
}
fs::path tool_exe(std::string_view name) {
  fs::path p = host_exe().parent_path() / "tools" / std::string(name);
  if (under_wine()) p += ".exe";
  return p;
}

std::string host_path(const fs::path& p) {
  if (!under_wine()) return p.string();
  std::string s = "Z:" + fs::absolute(p).string();
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

fs::path doctor_exe() {
  fs::path p = host_exe().parent_path() / "nmhost-doctor";
  p += host_exe().extension();
  return p;
}

std::string frame(std::string_view body) {
  std::string f;
  const auto n = static_cast<uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) f += static_cast<char>((n >> (8 * i)) & 0xFF);
  f += body;
  return f;
}

// The first whole frame's body, taken off the front of `bytes`.
static std::optional<std::string> take_frame(std::string_view& bytes) {
  if (bytes.size() < 4) return std::nullopt;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const uint32_t n = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
  if (bytes.size() - 4 < n) return std::nullopt;
  std::string body(bytes.substr(4, n));
  bytes.remove_prefix(4 + n);
  return body;
}

std::vector<std::string> split_frames(std::string_view bytes, std::string* rest) {
  std::vector<std::string> frames;
  while (auto body = take_frame(bytes)) frames.push_back(std::move(*body));
  if (rest) *rest = std::string(bytes);
  return frames;
}

static std::vector<std::string> make_env(const RunOptions& o) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    const size_t eq = kv.find('=');
    if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  for (const auto& name : o.unset_env) env.erase(name);
  for (const auto& [k, v] : o.env) env[k] = v;
  if (under_wine()) {
    // Wine passes these to the Windows program; tell it which to keep.
    env["WINEDEBUG"] = "-all";
    // Wine reads Unix file names, arguments and variables in the locale's
    // character set; the tests write them in UTF-8.
    env["LC_ALL"] = "C.UTF-8";
  }
  std::vector<std::string> out;
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

Session::Session(const RunOptions& o) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  if (o.cwd) posix_spawn_file_actions_addchdir_np(&fa, o.cwd->c_str());

  const fs::path exe = o.exe ? *o.exe : host_exe();
  std::vector<std::string> argv_s;
  if (under_wine()) argv_s.push_back("wine");
  argv_s.push_back(exe.string());
  for (const auto& a : o.args) argv_s.push_back(a);
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto env_s = make_env(o);
  std::vector<char*> envp;
  for (auto& e : env_s) envp.push_back(e.data());
  envp.push_back(nullptr);

  const int rc = posix_spawnp(&pid_, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (rc != 0) throw std::runtime_error("cannot start " + exe.string());
  signal(SIGPIPE, SIG_IGN);
}

Session::~Session() {
  if (in_ >= 0) ::close(in_);
  if (out_ >= 0) ::close(out_);
  if (err_ >= 0) ::close(err_);
  if (pid_ > 0) {
    int st;
    if (waitpid(pid_, &st, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &st, 0);
    }
  }
}

bool Session::write(std::string_view bytes) {
  // Keep reading the outputs while writing, so that a host answering a long
  // input never blocks on a full pipe.
  fcntl(in_, F_SETFL, fcntl(in_, F_GETFL) | O_NONBLOCK);
  while (!bytes.empty()) {
    const ssize_t w = ::write(in_, bytes.data(), std::min<size_t>(bytes.size(), 65536));
    if (w > 0) {
      bytes.remove_prefix(static_cast<size_t>(w));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    pollfd fds[3] = {{in_, POLLOUT, 0}, {out_, POLLIN, 0}, {err_, POLLIN, 0}};
    poll(fds, 3, 1000);
    if (fds[1].revents || fds[2].revents) fill(std::chrono::milliseconds(0));
  }
  return true;
}

// Reads whatever is ready on the outputs; false when both have ended or the
// time ran out.
bool Session::fill(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  if (out_ < 0 && err_ < 0) return false;
  const int r = poll(fds, 2, static_cast<int>(timeout.count()));
  if (r <= 0) return false;
  char buf[65536];
  bool any = false;
  for (int i = 0; i < 2; ++i) {
    int& fd = i == 0 ? out_ : err_;
    if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      (i == 0 ? out_buf_ : err_buf_).append(buf, static_cast<size_t>(n));
      any = true;
    } else if (n == 0 || errno != EINTR) {
      ::close(fd);
      fd = -1;
      any = true;
    }
  }
  return any;
}

std::optional<std::string> Session::read_reply(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::string_view bytes = out_buf_;
    if (auto body = take_frame(bytes)) {
      out_buf_.erase(0, out_buf_.size() - bytes.size());
      return body;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || out_ < 0) return std::nullopt;
    fill(left);
  }
}

void Session::close_output() {
  if (out_ >= 0) ::close(out_);
  out_ = -1;
}

RunResult Session::finish(std::chrono::milliseconds timeout) {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
  RunResult r;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (out_ >= 0 || err_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      r.timed_out = true;
      break;
    }
    fill(left);
  }
  int st = 0;
  if (r.timed_out) kill(pid_, SIGKILL);
  waitpid(pid_, &st, 0);
  pid_ = -1;
  r.exit_code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.out = std::move(out_buf_);
  r.err = std::move(err_buf_);
  return r;
}

RunResult run(const RunOptions& o) {
  Session s(o);
  s.write(o.input);
  return s.finish(o.timeout);
}

TempDir::TempDir(std::string_view prefix) {
  std::random_device rd;
  path_ = fs::temp_directory_path() /
          (std::string(prefix) + std::to_string(rd()) + std::to_string(rd()));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string read_text(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void write_text(const fs::path& p, std::string_view text) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << text;
}

RunResult wine_tool(const char* name, const std::vector<std::string>& args) {
  RunOptions o;
  o.args = args;
  o.exe = fs::path(name);
  return run(o);
}

std::optional<std::string> clear_wine_registry() {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  const auto remove = [&text](std::string_view key) { text += "[-" + std::string(key) + "]\r\n"; };
  for (const char* hive : {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"}) {
    // The second spelling is what 32-bit programs see.
    for (const char* software : {"Software", "Software\\Wow6432Node"}) {
      for (std::string_view key : nm::host::kHostKeys) {
        key.remove_prefix(std::string_view("Software").size());
        remove(std::string(hive) + "\\" + software + std::string(key) + "\\" +
               std::string(nm::host::kHostName));
      }
      std::string_view extensions = nm::host::kExtensionsKey;
      extensions.remove_prefix(std::string_view("Software").size());
      remove(std::string(hive) + "\\" + software + std::string(extensions) + "\\" +
             std::string(nm::ipc::kQarStoreIdPending));
    }
  }
  const fs::path file = fs::temp_directory_path() / ("nm-reg-clear-" + std::to_string(getpid()));
  write_text(file, text);
  const auto r = wine_tool("regedit", {"/S", host_path(file)});
  fs::remove(file);
  if (r.exit_code != 0) return r.out + r.err;
  return std::nullopt;
}

App::App(const fs::path& data, std::vector<std::string> options) : data_(data) {
  RunOptions o;
  o.exe = tool_exe("qtm-standin");
  o.args = std::move(options);
  o.args.insert(o.args.end(), {"--token", "t0k", host_path(data)});
  session_ = std::make_unique<Session>(o);
  for (int i = 0; i < 400 && !fs::exists(data / "ipc.json"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
}

App::~App() {
  write_text(data_ / "standin.stop", "");
  session_->finish(std::chrono::seconds(10));
}

static const std::string kEmptyRequest =
    R"({"token":"t0k","url":null,"dir":null,"name":null,"later":false,"silent":false,)"
    R"("start_queue":false,"referer":null,"cookies":null,"user_agent":null,"final_url":null,)"
    R"("size":null,"mime":null,"post":null,"post_type":null,"private":false,"proxy":null,)"
    R"("proxy_pac":null,"proxy_login":false,"query":null,"api":null,"action":null,"ids":[],)"
    R"("category":null,"queue":null,"pair":false,"exit":false,"startup":false,"show":null,)"
    R"("video_page":null,"video_title":null,"panel_hide_site":null,"links":[],"exclude_site":null})";
std::string request_line(const std::vector<std::pair<std::string, std::string>>& set) {
  std::string line = kEmptyRequest;
  for (const auto& [key, value] : set) {
    const size_t at = line.find("\"" + key + "\":") + key.size() + 3;
    line.replace(at, line.find_first_of(",}", at) - at, value);
  }
  return line;
}

std::vector<std::string> Host::requests() const {
  std::vector<std::string> lines;
  std::string text = read_text(data.path() / "requests.jsonl");
  size_t at = 0;
  while (at < text.size()) {
    const size_t nl = text.find('\n', at);
    lines.push_back(text.substr(at, nl - at));
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  return lines;
}

std::vector<std::string> Host::log() const {
  static const std::regex line(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z  INFO nmhost qtm_nmhost: ([^\n]*)\n)");
  const std::string text = read_text(data.path() / "logs" / "qtm.log");
  std::vector<std::string> out;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
    out.push_back((*it)[1]);
  return out;
}

RunOptions Host::options(std::map<std::string, std::string> env,
                         std::optional<fs::path> exe) const {
  RunOptions o;
  o.args = {kOrigin};
  o.env = std::move(env);
  o.env["QTM_DATA_DIR"] = host_path(data.path());
  o.exe = std::move(exe);
  return o;
}

std::vector<std::string> Host::talk(const std::vector<std::string>& bodies,
                                    std::map<std::string, std::string> env,
                                    std::optional<fs::path> exe) const {
  RunOptions o = options(std::move(env), std::move(exe));
  for (const auto& b : bodies) o.input += frame(b);
  const auto r = run(o);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return split_frames(r.out);
}

std::string Host::one(const std::string& body) const {
  auto replies = talk({body});
  return replies.size() == 1 ? replies[0] : "<" + std::to_string(replies.size()) + " replies>";
}

}  // namespace e2e
