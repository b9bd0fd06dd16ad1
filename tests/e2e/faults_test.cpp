// The host under faults of its peers and under load.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iostream>
#include <regex>
#include <set>
#include <thread>

#include "harness.hpp"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kRulesHead = R"({"ok":true,"version":)";
constexpr int kMessages = 1000;

// A program on the application's port that breaks the contract in one way,
// for one connection: it answers in a thread of the test, on Linux sockets,
// whichever host is under test.
struct Peer {
  bool listens = true;
  enum class Reads { nothing, all, slowly } reads = Reads::all;
  bool urgent = false;      // one out-of-band byte as soon as it accepts
  bool half_close = false;  // shuts down its sending side as soon as it accepts
  std::string answer{};     // after the request, in `pieces` spread over `spread`
  int pieces = 1;
  Ms spread{0};
  enum class Then { close, reset, hold } then = Then::close;
};

class PeerOnPort {
 public:
  explicit PeerOnPort(Peer peer) : peer_(std::move(peer)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("bind");
    port_ = ntohs(a.sin_port);
    // A port nobody listens on: bound, so that no other program takes it.
    if (peer_.listens) ::listen(listener_, 4);
    thread_ = std::thread([this] { serve(); });
  }
  ~PeerOnPort() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  bool wait(int fd, short events, Ms ms) const {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, static_cast<int>(ms.count())) > 0;
  }
  void serve() {
    int fd = -1;
    while (!stop_ && peer_.listens && fd < 0)
      if (wait(listener_, POLLIN, 10ms)) fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (peer_.urgent) ::send(fd, "!", 1, MSG_OOB | MSG_NOSIGNAL);
    if (peer_.half_close) ::shutdown(fd, SHUT_WR);
    if (peer_.reads != Peer::Reads::nothing) {
      // The whole line; slowly: 128 KiB at a time, 4 ms apart (a 32 MB
      // request drains in about a second).
      std::vector<char> buf(peer_.reads == Peer::Reads::slowly ? 128 * 1024 : 1 << 20);
      for (bool line = false; !line && !stop_;) {
        if (!wait(fd, POLLIN, 10ms)) continue;
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n == 0) break;
        line = n > 0 && std::find(buf.begin(), buf.begin() + n, '\n') != buf.begin() + n;
        if (peer_.reads == Peer::Reads::slowly) std::this_thread::sleep_for(4ms);
      }
    }
    const size_t step = (peer_.answer.size() + peer_.pieces - 1) / std::max(peer_.pieces, 1);
    for (size_t at = 0; at < peer_.answer.size() && !stop_; at += step) {
      if (at > 0) std::this_thread::sleep_for(peer_.spread / (peer_.pieces - 1));
      const std::string_view piece = std::string_view(peer_.answer).substr(at, step);
      for (size_t sent = 0; sent < piece.size() && !stop_;) {
        const ssize_t n = ::send(fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && !wait(fd, POLLOUT, 10ms)) break;
        sent += n > 0 ? static_cast<size_t>(n) : 0;
      }
    }
    if (peer_.then == Peer::Then::reset) {
      const linger now{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    while (peer_.then == Peer::Then::hold && !stop_) std::this_thread::sleep_for(10ms);
    ::close(fd);
  }
  Peer peer_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

// Whatever the program on the application's port does, the browser gets its
// reply within the bound, and the next message is answered.
TEST(Faults, HostilePeers) {
  const auto refused = [](const std::string& error, const char* why = "refused") {
    return R"(\{"ok":false,"error":")" + error + R"(","why":")" + why + R"("\})";
  };
  // The time-out: EAGAIN on Linux, WSAETIMEDOUT on Windows (no text under Wine).
  const std::string timed_out =
      refused(under_wine() ? R"(.* \(os error 10060\))" : R"(.+ \(os error 11\))");
  const std::string any_refusal = refused(".+"), ok = R"(\{"ok":true\})";
  std::string digits;
  while (digits.size() < 65536) digits += static_cast<char>('0' + digits.size() % 10);
  // A message under 1 MiB whose request line, 340,000 empty cookies, is 32 MB:
  // more than the socket buffers of both sides hold.
  std::string big = R"({"url":"https://a.test/f.zip","cookieJar":[{})";
  while (big.size() < 1020000) big += ",{}";
  big += "]}";
  using R = Peer::Reads;
  using T = Peer::Then;
  const struct {
    const char* peer;
    Peer does;
    bool big;
    std::string reply;  // a pattern, or the text itself when long
    Ms at_least{0}, at_most{3000};
  } rows[] = {
      {"nothing listens",
       {.listens = false},
       false,
       R"(\{"ok":false,"error":"cannot start .+","why":"not-running"\})"},
      {"accepts and closes at once", {.reads = R::nothing}, false, any_refusal},
      {"accepts and resets", {.reads = R::nothing, .then = T::reset}, false, any_refusal},
      {"never reads", {.reads = R::nothing, .then = T::hold}, true, timed_out, 1900ms, 6s},
      {"urgent byte, never reads",
       {.reads = R::nothing, .urgent = true, .then = T::hold},
       true,
       timed_out,
       1900ms,
       6s},
      {"half-closes, never reads",
       {.reads = R::nothing, .half_close = true, .then = T::hold},
       true,
       timed_out,
       1900ms,
       6s},
      {"reads slowly but steadily", {.reads = R::slowly, .answer = "ok\n"}, true, ok, 900ms, 6s},
      {"reads, closes without a byte", {}, false, refused("no answer")},
      {"answers without a line feed, holds",
       {.answer = "ok", .then = T::hold},
       false,
       timed_out,
       1900ms,
       6s},
      {"answers bytes that are not UTF-8",
       {.answer = "o\xff\xfek\n"},
       false,
       refused("stream did not contain valid UTF-8")},
      {"answers 65,536 bytes",
       {.answer = digits + "\n"},
       false,
       R"({"ok":false,"error":")" + digits + R"(","why":"refused"})"},
      {"answers 65,537 bytes",
       {.answer = digits + "7\n"},
       false,
       refused("answer line longer than 65536 bytes")},
      {"answers ok, resets", {.answer = "ok\n", .then = T::reset}, false, ok},
      {"answers in pieces over 1.5 s",
       {.answer = "ok\n", .pieces = 3, .spread = 1500ms},
       false,
       ok,
       1400ms,
       4s},
      {"answers in pieces over 2.5 s",
       {.answer = "ok\n", .pieces = 3, .spread = 2500ms},
       false,
       timed_out,
       1900ms,
       6s},
  };
  Host h;
  Session s(h.options());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.peer);
    PeerOnPort peer(row.does);
    write_text(h.data.path() / "ipc.json",
               R"({"port":)" + std::to_string(peer.port()) + R"(,"token":"t0k"})");
    const auto start = Clock::now();
    s.write(frame(row.big ? big : R"({"open": true})"));
    const auto reply = s.read_reply(20s);
    const auto took = Clock::now() - start;
    ASSERT_TRUE(reply);
    // std::regex recurses per character: compare a long text as it is.
    EXPECT_TRUE(row.reply.size() > 1000 ? *reply == row.reply
                                        : std::regex_match(*reply, std::regex(row.reply)))
        << reply->substr(0, 200);
    EXPECT_GE(took, row.at_least);
    EXPECT_LE(took, row.at_most);
  }
  s.write(frame(R"({"hello": true})"));
  EXPECT_TRUE(s.read_reply(10s).value_or("").starts_with(kRulesHead));
  const auto end = s.finish();
  EXPECT_EQ(end.exit_code, 0) << end.err;
}

// Whatever is wrong with ipc.json, the host starts the program app-path names
// (blanks trimmed); the requests arrive, even while it starts to listen.
TEST(Faults, StartsTheApplicationWhenItIsNotRunning) {
  const std::string stale =
      R"({"port":)" + std::to_string(stale_port()) + R"(,"token":"t0k","pid":4242})" + "\n";
  // Another program on the port of an application that is gone: it is sent
  // nothing, neither token nor cookies.
  auto squatter = nm::os::TcpListener::bind_loopback();
  ASSERT_TRUE(squatter.ok()) << squatter.error();
  const std::string squatted =
      R"({"port":)" + std::to_string(squatter->port()) + R"(,"token":"t0k","pid":4000000000})";
  // The endpoint file's text; "-": no file, none: a folder in its place.
  const std::optional<std::string> texts[] = {
      "-", stale, "", stale.substr(0, stale.size() / 2), std::nullopt, squatted};
  for (const auto& text : texts) {
    SCOPED_TRACE(text.value_or("a folder"));
    InstalledHost h;
    write_text(h.install.path() / "app-path",
               "\r\n  " + host_path(build_exe("tools/qtm-standin")) + "  \n");
    const fs::path endpoint = h.data.path() / "ipc.json";
    if (!text) fs::create_directories(endpoint / "inside");
    if (text && text != "-") write_text(endpoint, *text);
    const std::string delay = text == "-" ? " --listen-delay-ms 300" : "";
    const auto replies =
        h.talk({R"({"url": "https://example.com/f.zip"})", R"({"openOptions": true})"},
               {{"QTM_STANDIN_ARGS", "--token t0k --max-requests 2 --idle-exit-ms 30000" + delay}});
    EXPECT_EQ(replies, (std::vector<std::string>{R"({"ok":true})", R"({"ok":true})"}));
    EXPECT_EQ(h.requests(),
              (std::vector<std::string>{request_line({"url", R"("https://example.com/f.zip")"}),
                                        request_line({"show", R"("options:panels")"})}));
    // The stand-in ends after its requests and takes its ipc.json along.
    for (int i = 0; i < 200 && fs::exists(endpoint); ++i) std::this_thread::sleep_for(50ms);
  }
  const auto connected = squatter->accept(0);
  EXPECT_TRUE(connected.ok() && !connected->has_value()) << "the squatter was called";
}

// A browser that stops reading, before the reply or inside a 600 kB one: the
// host reports it once and ends with code 1.
TEST(Faults, OutputClosedByTheBrowser) {
  std::string types;
  while (types.size() < 600000) types += "EXT" + std::to_string(types.size()) + " ";
  for (const bool midway : {false, true}) {
    SCOPED_TRACE(midway);
    Host h;
    if (midway)
      write_text(h.data.path() / "downloads.json",
                 R"({"settings":{"auto_types":")" + types + "\"}}");
    Session s(h.options());
    if (!midway) s.close_output();
    s.write(frame(R"({"hello": true})"));
    if (midway) {
      std::this_thread::sleep_for(under_wine() ? 2s : 500ms);
      s.close_output();
    }
    const auto r = s.finish();
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(std::regex_match(r.err, std::regex(kPrefix + "[^\n]+\n"))) << r.err;
  }
}

// A frame of 4 GiB less one byte is drained through a small buffer, answered
// "too-large", and the next frame is served; the host's memory stays flat.
TEST(Faults, FourGiBFrameIsDrained) {
  Host h;
  Session s(h.options());
  const auto peak_rss_kib = [&s] {
    std::ifstream status("/proc/" + std::to_string(s.pid()) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    return -1L;
  };
  s.write(frame(R"({"hello": true})"));
  ASSERT_TRUE(s.read_reply());
  const long before = peak_rss_kib();

  const auto start = Clock::now();
  ASSERT_TRUE(s.write(std::string("\xff\xff\xff\xff", 4)));
  const std::string chunk(1 << 20, 'x');
  for (uint64_t left = 0xFFFFFFFFull; left > 0;) {
    const size_t n = std::min<uint64_t>(left, chunk.size());
    ASSERT_TRUE(s.write(std::string_view(chunk).substr(0, n)));
    left -= n;
  }
  s.write(frame(R"({"hello": true})"));
  EXPECT_EQ(s.read_reply(60s),
            R"({"ok":false,"error":"a message of 4294967295 bytes","why":"too-large"})");
  EXPECT_TRUE(s.read_reply().value_or("").starts_with(kRulesHead));
  const long after = peak_rss_kib();
  std::cout << "4 GiB drained in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()
            << " ms; peak memory " << before << " KiB before, " << after << " KiB after\n";
  EXPECT_LT(after - before, 1024) << "the body must not be held in memory";
  EXPECT_EQ(s.finish().exit_code, 0);
}

// Two hosts on one data directory, each sending its bodies, while the test
// reads extension-seen whenever it is there.
struct SharedRun {
  RunResult results[2];
  int reads = 0;
  std::string torn;  // a read that was not a whole list
};
SharedRun run_two_hosts(const Host& h, const std::function<std::string(int b, int i)>& body) {
  SharedRun shared;
  std::atomic<int> running = 2;
  std::vector<std::thread> hosts;
  for (int b = 0; b < 2; ++b) {
    RunOptions o = h.options();
    for (int i = 0; i < kMessages; ++i) o.input += frame(body(b, i));
    o.timeout = 120s;
    hosts.emplace_back([&shared, &running, o, b] {
      shared.results[b] = run(o);
      --running;
    });
  }
  const std::regex list("((Google Chrome|Mozilla Firefox)\t1\\.[0-9]+\n)+");
  while (running > 0) {
    std::ifstream f(h.data.path() / "extension-seen", std::ios::binary);
    if (!f) {
      std::this_thread::sleep_for(1ms);
      continue;
    }
    const std::string text((std::istreambuf_iterator<char>(f)), {});
    ++shared.reads;
    if (!std::regex_match(text, list)) shared.torn = text;
  }
  for (auto& t : hosts) t.join();
  for (const auto& r : shared.results) {
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const auto replies = split_frames(r.out);
    EXPECT_EQ(replies.size(), size_t{kMessages});
    for (const auto& reply : replies) EXPECT_TRUE(reply.starts_with(R"({"ok":true)")) << reply;
  }
  EXPECT_EQ(shared.torn, "") << "extension-seen was read half-written";
  return shared;
}

std::string version(int b, int i) {
  return R"("v": "1.)" + std::to_string(i) + R"(", "userAgent": ")" + (b ? kFirefoxUa : kChromeUa) +
         "\"}";
}

// Every log line stays whole, none is lost or repeated.
TEST(Faults, TwoHostsShareTheLog) {
  Host h;
  std::set<std::string> expected;
  const auto decline = [&expected](int b, int i) {
    const std::string site = b ? "ff.example" : "ch.example", name = "f" + std::to_string(i);
    expected.insert("browser integration: " + std::string(b ? "Mozilla Firefox" : "Google Chrome") +
                    " keeps " + name + ".txt from " + site +
                    ": its type isn't in Options > File types");
    return R"({"declined": {"why": "file-type", "site": ")" + site + R"(", "name": ")" + name +
           R"(.txt"}, )" + version(b, 0);
  };
  run_two_hosts(h, decline);
  const std::string log = read_text(h.data.path() / "logs" / "qtm.log");
  const auto lines = h.log();
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
  EXPECT_EQ(static_cast<size_t>(std::count(log.begin(), log.end(), '\n')), expected.size())
      << "a log line is broken or repeated";
}

// Every message brings a new version, so both rewrite the list each time:
// they take turns, so neither loses the other's change, and it is never torn.
TEST(Faults, TwoHostsShareExtensionSeen) {
  Host h;
  const auto hello = [](int b, int i) { return R"({"hello": true, )" + version(b, i); };
  EXPECT_GT(run_two_hosts(h, hello).reads, 0);
  const std::string seen = read_text(h.data.path() / "extension-seen");
  EXPECT_TRUE(seen == "Google Chrome\t1.999\nMozilla Firefox\t1.999\n" ||
              seen == "Mozilla Firefox\t1.999\nGoogle Chrome\t1.999\n")
      << seen;
  for (const auto& f : fs::directory_iterator(h.data.path()))
    EXPECT_EQ(f.path().filename().string().find(".tmp"), std::string::npos) << f.path();
}

}  // namespace
}  // namespace e2e
