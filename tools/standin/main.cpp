// qtm-standin: plays the download manager application on the local link, so
// that the host can be run and tested without the real application. See
// README.md beside this file.
#include <array>
#include <charconv>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/cmdline.hpp"
#include "ipc/data_dir.hpp"
#include "ipc/endpoint.hpp"
#include "ipc/request.hpp"
#include "json/reader.hpp"
#include "os/clock.hpp"
#include "os/console.hpp"
#include "os/fs.hpp"
#include "os/net.hpp"
#include "os/process.hpp"

namespace {

namespace fs = std::filesystem;
namespace os = nm::os;

constexpr const char* kArgsVariable = "QTM_STANDIN_ARGS";
constexpr const char* kRequestsFile = "requests.jsonl";
constexpr const char* kStopFile = "standin.stop";
constexpr int kPollMs = 100;
// How long a refused move of ipc.json into place is tried again.
constexpr int kPublishRetryMs = 1000;
constexpr size_t kMaxRequestBytes = 64 * 1024 * 1024;
// The longest pause within a request, and the longest a connection is held
// without an answer.
constexpr int kReadTimeoutMs = 10000;
constexpr int kHoldMs = 60000;

constexpr std::string_view kUsage =
    "usage: qtm-standin [options] [data-dir]\n"
    "  --answer TEXT        answer TEXT and a line feed (default: ok)\n"
    "  --no-answer          read the request, then hold the connection until the host closes it\n"
    "  --close              read the request, then close without a byte\n"
    "  --bad-utf8           answer with bytes that are not UTF-8\n"
    "  --answer-bytes N     answer N bytes of text (0123456789 repeated) and a line feed\n"
    "  --pause-ms N         wait N ms before answering\n"
    "  --trickle-ms N       send the answer one byte every N ms\n"
    "  --hold               leave out the answer's line feed, then hold the connection\n"
    "  --no-read            never read the request (nor check its token)\n"
    "  --read-pause-ms N    read the request 128 KiB at a time, N ms apart\n"
    "  --urgent             send one urgent (out-of-band) byte on accepting a connection\n"
    "  --half-close         shut down the sending side on accepting a connection\n"
    "  --reset              end each connection with a reset instead of a close\n"
    "  --listen-delay-ms N  wait N ms before listening and writing ipc.json\n"
    "  --exit-at-once       end at once, without listening or writing ipc.json\n"
    "  --max-requests N     end after N requests\n"
    "  --idle-exit-ms N     end after N ms without a connection\n"
    "  --token TEXT         use TEXT as the token instead of a random one\n"
    "Options are also taken from QTM_STANDIN_ARGS (before those of the command line).\n"
    "The data directory is found as the host finds it when none is given.\n"
    "Ends when the file standin.stop appears in the data directory.\n";

struct Options {
  std::string answer = "ok";
  bool line_feed = true;  // after the answer
  // After the answer: hold the connection until the host closes it.
  bool hold = false;
  bool read = true;
  unsigned read_pause_ms = 0;
  bool urgent = false;
  bool half_close = false;
  bool reset = false;
  unsigned listen_delay_ms = 0;
  unsigned pause_ms = 0;
  unsigned trickle_ms = 0;
  bool exit_at_once = false;
  std::optional<uint64_t> max_requests;
  std::optional<uint64_t> idle_exit_ms;
  std::optional<std::string> token;
  std::optional<std::string> data_dir;
};

void say(std::string_view text) {
  std::string line = "qtm-standin: ";
  line += text;
  line += '\n';
  os::write_stderr(line);
}

std::optional<uint64_t> number(std::string_view s) {
  uint64_t v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

// A long answer: the digits 0 to 9 over and over, cut at n bytes.
std::string long_answer(size_t n) {
  std::string text;
  text.reserve(n);
  for (size_t i = 0; i < n; ++i) text += static_cast<char>('0' + i % 10);
  return text;
}

// The error is the usage complaint.
nm::Result<Options> parse_options(const std::vector<std::string>& args) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&]() -> const std::string* {
      return i + 1 < args.size() ? &args[++i] : nullptr;
    };
    const auto count = [&]() -> std::optional<uint64_t> {
      const std::string* v = value();
      return v ? number(*v) : std::nullopt;
    };
    if (a == "--answer") {
      const std::string* v = value();
      if (!v) return nm::Error{"--answer needs a text"};
      o.answer = *v;
    } else if (a == "--no-answer" || a == "--close") {
      o.answer.clear();
      o.line_feed = false;
      o.hold = a == "--no-answer";
    } else if (a == "--bad-utf8") {
      o.answer = "o\xff\xfek";
    } else if (a == "--hold") {
      o.line_feed = false;
      o.hold = true;
    } else if (a == "--no-read") {
      o.read = false;
    } else if (a == "--urgent") {
      o.urgent = true;
    } else if (a == "--half-close") {
      o.half_close = true;
    } else if (a == "--reset") {
      o.reset = true;
    } else if (a == "--answer-bytes") {
      const auto n = count();
      if (!n || *n > kMaxRequestBytes)
        return nm::Error{"--answer-bytes needs a number up to 67108864"};
      o.answer = long_answer(static_cast<size_t>(*n));
    } else if (a == "--pause-ms" || a == "--trickle-ms" || a == "--read-pause-ms") {
      const auto n = count();
      if (!n || *n > 600000) return nm::Error{a + " needs a number up to 600000"};
      (a == "--pause-ms"     ? o.pause_ms
       : a == "--trickle-ms" ? o.trickle_ms
                             : o.read_pause_ms) = static_cast<unsigned>(*n);
    } else if (a == "--exit-at-once") {
      o.exit_at_once = true;
    } else if (a == "--listen-delay-ms") {
      const auto n = count();
      if (!n || *n > 600000) return nm::Error{"--listen-delay-ms needs a number up to 600000"};
      o.listen_delay_ms = static_cast<unsigned>(*n);
    } else if (a == "--max-requests") {
      if (!(o.max_requests = count())) return nm::Error{"--max-requests needs a number"};
    } else if (a == "--idle-exit-ms") {
      if (!(o.idle_exit_ms = count())) return nm::Error{"--idle-exit-ms needs a number"};
    } else if (a == "--token") {
      const std::string* v = value();
      if (!v) return nm::Error{"--token needs a text"};
      o.token = *v;
    } else if (a == "--help" || a == "-h") {
      return nm::Error{""};
    } else if (a.starts_with("--")) {
      return nm::Error{"unknown option " + a};
    } else if (!o.data_dir) {
      o.data_dir = a;
    } else {
      return nm::Error{"more than one data directory"};
    }
  }
  return o;
}

std::string random_token() {
  std::random_device rd;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string t;
  for (int i = 0; i < 8; ++i) {
    const unsigned v = rd();
    for (int j = 0; j < 4; ++j) t += kHex[(v >> (j * 4)) & 0xF];
  }
  return t;
}

// The token of a request line; none when the line is no request.
std::optional<std::string> token_of(std::string_view line) {
  static constexpr std::array<std::string_view, 1> kFields = {nm::ipc::kRequestTokenKey};
  static constexpr auto kKeys = nm::json::keys_by_name(kFields);
  static constexpr nm::json::RecordLayout kLayout{"struct AppRequest", kFields, kKeys};
  static constexpr std::array<size_t, 1> kRequired = {0};
  nm::json::Cursor cursor(line);
  std::string token;
  const auto field = [&token](nm::json::Cursor& c, size_t) { return c.read_string(token); };
  if (!cursor.read_record_required(kLayout, kRequired, field) || !cursor.finish())
    return std::nullopt;
  return token;
}

// Reads up to and including the first line feed, or to the end of the stream;
// with a pause, 128 KiB at a time, as an application that reads slowly but
// steadily.
nm::Result<std::string> read_request(os::TcpStream& s, unsigned pause_ms) {
  std::string line;
  std::vector<char> buf(128 * 1024);
  while (line.size() < kMaxRequestBytes) {
    auto n = s.recv(buf.data(), buf.size(), kReadTimeoutMs);
    if (!n) return n.failure();
    if (*n == 0) break;
    line.append(buf.data(), *n);
    if (line.find('\n', line.size() - *n) != std::string::npos) break;
    if (pause_ms) os::sleep_ms(pause_ms);
  }
  return line;
}

// Until the host closes the connection, the stand-in is stopped or kHoldMs
// have passed; without reading, only the last two end it.
void hold(os::TcpStream& conn, const Options& o, const fs::path& dir) {
  const int64_t end = os::monotonic_ns() + int64_t{kHoldMs} * 1000000;
  char buf[256];
  while (os::ms_until(end) > 0 && !os::metadata_readable(dir / kStopFile)) {
    if (!o.read) {
      os::sleep_ms(kPollMs);
      continue;
    }
    auto n = conn.recv(buf, sizeof buf, kPollMs);
    if (n ? *n == 0 : n.error_kind() != nm::ErrorKind::timed_out) return;
  }
}

void serve(os::TcpStream conn, const Options& o, const std::string& token, const fs::path& dir) {
  if (o.urgent) (void)conn.send_urgent('!');
  if (o.half_close) (void)conn.shutdown_send();
  std::string answer = o.answer + (o.line_feed ? "\n" : "");
  if (o.read) {
    auto got = read_request(conn, o.read_pause_ms);
    if (!got) {
      say("reading a request failed: " + got.error());
      return;
    }
    std::string line = std::move(got).value();
    if (line.empty()) {
      say("a connection without a request");
      return;
    }
    if (line.back() != '\n') line += '\n';
    if (auto st = os::append_file(dir / kRequestsFile, line); !st)
      say("cannot record the request: " + st.error());
    if (token_of(line) != token) answer = "invalid token\n";
  }
  if (o.pause_ms) os::sleep_ms(o.pause_ms);
  // A trickle ends once the host has given up and the sends fail.
  const size_t step = o.trickle_ms ? 1 : answer.size();
  for (size_t at = 0; at < answer.size(); at += step) {
    if (o.trickle_ms) os::sleep_ms(o.trickle_ms);
    if (auto st = conn.send_all(std::string_view(answer).substr(at, step), 10000); !st) {
      say("answering failed: " + st.error());
      return;
    }
  }
  if (o.hold) hold(conn, o, dir);
  if (o.reset) conn.reset();
}

// The data directory, created when missing; none after saying why.
std::optional<fs::path> ready_data_dir(const Options& o) {
  std::optional<fs::path> dir;
  if (o.data_dir)
    dir = os::path_from_utf8(*o.data_dir);
  else
    dir = nm::ipc::data_dir();
  if (!dir) {
    say("no data directory");
    return std::nullopt;
  }
  if (auto st = os::make_dirs(*dir); !st) {
    say("cannot create the data directory: " + st.error());
    return std::nullopt;
  }
  return dir;
}

// Writes ipc.json for the listener; what was written, or none after saying
// why not.
std::optional<std::string> publish_endpoint(const fs::path& endpoint, uint16_t port,
                                            const std::string& token) {
  const std::string published = nm::ipc::endpoint_text({port, token, os::current_pid()}) + "\n";
  // A folder in the way is cleared first, as the application would.
  if (os::is_dir(endpoint)) {
    std::error_code ec;
    fs::remove_all(endpoint, ec);
  }
  // Replaced whole, so that the host never reads half a file. A host reading
  // the old file at that moment may hold up the move under Wine for a while;
  // the application waits for it too.
  if (auto st = os::replace_file(endpoint, published, kPublishRetryMs); !st) {
    say("cannot write " + os::path_display(endpoint) + ": " + st.error());
    return std::nullopt;
  }
  return published;
}

struct Served {
  uint64_t requests = 0;
  int code = 0;
};

// Serves connections one at a time until a limit is reached, the stop file
// appears or accepting fails.
Served serve_until_stopped(os::TcpListener& listener, const Options& o, const std::string& token,
                           const fs::path& dir) {
  const fs::path stop = dir / kStopFile;
  Served done;
  int64_t last_activity = os::monotonic_ns();
  for (;;) {
    if (o.max_requests && done.requests >= *o.max_requests) break;
    if (os::metadata_readable(stop)) {
      (void)os::remove_file(stop);
      break;
    }
    if (o.idle_exit_ms &&
        os::monotonic_ns() - last_activity >= static_cast<int64_t>(*o.idle_exit_ms) * 1000000)
      break;
    auto conn = listener.accept(kPollMs);
    if (!conn) {
      say("accept failed: " + conn.error());
      done.code = 1;
      break;
    }
    if (!*conn) continue;
    serve(std::move(**conn), o, token, dir);
    ++done.requests;
    last_activity = os::monotonic_ns();
  }
  return done;
}

int run(const Options& o) {
  if (o.exit_at_once) return 0;
  const auto dir = ready_data_dir(o);
  if (!dir) return 1;
  if (o.listen_delay_ms) os::sleep_ms(o.listen_delay_ms);

  auto listener = os::TcpListener::bind_loopback();
  if (!listener) {
    say("cannot listen: " + listener.error());
    return 1;
  }
  const std::string token = o.token ? *o.token : random_token();
  const fs::path endpoint = *dir / nm::ipc::kEndpointFile;
  const auto published = publish_endpoint(endpoint, listener->port(), token);
  if (!published) return 1;
  say("listening on 127.0.0.1:" + std::to_string(listener->port()) + ", data directory " +
      os::path_display(*dir));

  const Served done = serve_until_stopped(*listener, o, token, *dir);
  listener->close();
  // Leave a file that another instance has written since.
  if (auto now = os::read_file(endpoint); now && *now == *published)
    (void)os::remove_file(endpoint);
  say("stopped after " + std::to_string(done.requests) + " requests");
  return done.code;
}

}  // namespace

int main(int argc, char** argv) {
  os::init_stdio();
  std::vector<std::string> args;
  if (auto env = os::get_env(kArgsVariable); env && !env->empty()) {
    args = nm::base::split_command_line("qtm-standin " + *env);
    args.erase(args.begin());
  }
  const auto given = os::arguments(argc, argv);
  args.insert(args.end(), given.begin(), given.end());
  auto options = parse_options(args);
  if (!options) {
    if (!options.error().empty()) say(options.error());
    os::write_stderr(kUsage);
    return options.error().empty() ? 0 : 2;
  }
  return run(*options);
}
