// The host under faults of its peers and under load.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "harness.hpp"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kRulesHead = R"({"ok":true,"version":)";
// The host's own work on a 32 MB request takes about twice as long when sanitized.
#ifdef __SANITIZE_ADDRESS__
constexpr int kSlowdown = 2;
#else
constexpr int kSlowdown = 1;
#endif
constexpr int kMessages = 1000;

// Whatever the program on the application's port does, the browser gets its
// reply within the bound, and the next message is answered.
TEST(Faults, HostilePeers) {
  const auto refused = [](const std::string& error) {
    return R"(\{"ok":false,"error":")" + error + R"(","why":"refused"\})";
  };
  // The time-out: EAGAIN on Linux, WSAETIMEDOUT on Windows (no text under Wine).
  const std::string timed_out =
      refused(under_wine() ? R"(.* \(os error 10060\))" : R"(.+ \(os error 11\))");
  const std::string ok = R"(\{"ok":true\})";
  std::string digits;
  while (digits.size() < 65536) digits += static_cast<char>('0' + digits.size() % 10);
  // A message under 1 MiB whose request line, 340,000 empty cookies, is 32 MB:
  // more than the socket buffers of both sides hold.
  std::string big = R"({"url":"https://a.test/f.zip","cookieJar":[{})";
  while (big.size() < 1020000) big += ",{}";
  big += "]}";
  const struct {
    std::vector<std::string> peer;  // the stand-in's options; none: nothing listens
    bool big;
    std::string reply;  // a pattern, or the text itself when long
    Ms at_least{0}, at_most{3000};
  } rows[] = {
      {{}, false, R"(\{"ok":false,"error":"cannot start .+","why":"not-running"\})"},
      {{"--no-read", "--close"}, false, refused(".+")},
      // A reset seen while the connect completes is no application there.
      {{"--no-read", "--close", "--reset"},
       false,
       R"~(\{"ok":false,"error":".+","why":"(refused|not-running)"\})~"},
      {{"--no-read", "--no-answer"}, true, timed_out, 1900ms, 6s},
      {{"--urgent", "--no-read", "--no-answer"}, true, timed_out, 1900ms, 6s},
      {{"--half-close", "--no-read", "--no-answer"}, true, timed_out, 1900ms, 6s},
      {{"--read-pause-ms", "4"}, true, ok, 900ms, 6s},
      {{"--close"}, false, refused("no answer")},
      {{"--hold"}, false, timed_out, 1900ms, 6s},
      {{"--bad-utf8"}, false, refused("stream did not contain valid UTF-8")},
      {{"--answer-bytes", "65536"},
       false,
       R"({"ok":false,"error":")" + digits + R"(","why":"refused"})"},
      {{"--answer-bytes", "65537"}, false, refused("answer line longer than 65536 bytes")},
      {{"--reset"}, false, ok},
      {{"--answer", "ok\nbusy"}, false, ok},  // what follows the line feed is dropped
      // The whole line within 2 s, however it trickles in.
      {{"--trickle-ms", "500"}, false, ok, 1400ms, 4s},
      {{"--trickle-ms", "850"}, false, timed_out, 1900ms, 6s},
  };
  Host h;
  Session s(h.options());
  for (const auto& row : rows) {
    std::string name;
    for (const auto& o : row.peer) name += o + " ";
    SCOPED_TRACE(name);
    fs::remove(h.data.path() / "ipc.json");
    std::optional<App> app;
    if (row.peer.empty())
      write_text(h.data.path() / "ipc.json",
                 R"({"port":)" + std::to_string(stale_port()) + R"(,"token":"t0k"})");
    else
      app.emplace(h.data.path(), row.peer);
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
    EXPECT_LE(took, row.at_most * kSlowdown);
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
    // Whole request lines are the documents' examples.
    const auto got = h.requests();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[0].find(R"("url":"https://example.com/f.zip")"), std::string::npos) << got[0];
    EXPECT_NE(got[1].find(R"("show":"options:panels")"), std::string::npos) << got[1];
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
  EXPECT_LT(after - before, 1024) << "the body must not be held in memory";
  EXPECT_EQ(s.finish().exit_code, 0);
}

// Two hosts on one data directory, each declining downloads with a new
// version every time, so both rewrite extension-seen at each message while
// they append to the log; the test reads extension-seen whenever it is there.
// The list is never torn and keeps both browsers' last versions (they take
// turns), and every log line stays whole, none lost or repeated.
TEST(Faults, TwoHostsShareTheDataDirectory) {
  Host h;
  std::set<std::string> expected;
  RunResult results[2];
  std::atomic<int> running = 2;
  std::vector<std::thread> hosts;
  for (int b = 0; b < 2; ++b) {
    const std::string browser = b ? "Mozilla Firefox" : "Google Chrome",
                      site = b ? "ff.example" : "ch.example";
    RunOptions o = h.options();
    for (int i = 0; i < kMessages; ++i) {
      const std::string name = "f" + std::to_string(i) + ".txt";
      expected.insert("browser integration: " + browser + " keeps " + name + " from " + site +
                      ": its type isn't in Options > File types");
      o.input += frame(R"({"declined": {"why": "file-type", "site": ")" + site + R"(", "name": ")" +
                       name + R"("}, "v": "1.)" + std::to_string(i) + R"(", "userAgent": ")" +
                       (b ? kFirefoxUa : kChromeUa) + "\"}");
    }
    o.timeout = 120s;
    hosts.emplace_back([&results, &running, o, b] {
      results[b] = run(o);
      --running;
    });
  }
  const std::regex list("((Google Chrome|Mozilla Firefox)\t1\\.[0-9]+\n)+");
  int reads = 0;
  while (running > 0) {
    std::ifstream f(h.data.path() / "extension-seen", std::ios::binary);
    if (!f) {
      std::this_thread::sleep_for(1ms);
      continue;
    }
    const std::string text((std::istreambuf_iterator<char>(f)), {});
    ++reads;
    EXPECT_TRUE(std::regex_match(text, list)) << "extension-seen read half-written: " << text;
  }
  for (auto& t : hosts) t.join();
  EXPECT_GT(reads, 0);
  for (const auto& r : results) {
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(split_frames(r.out), std::vector<std::string>(kMessages, R"({"ok":true})"));
  }
  const std::string log = read_text(h.data.path() / "logs" / "qtm.log");
  const auto lines = h.log();
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
  EXPECT_EQ(static_cast<size_t>(std::count(log.begin(), log.end(), '\n')), expected.size())
      << "a log line is broken or repeated";
  const std::string seen = read_text(h.data.path() / "extension-seen");
  EXPECT_EQ(seen, seen.starts_with("Google") ? "Google Chrome\t1.999\nMozilla Firefox\t1.999\n"
                                             : "Mozilla Firefox\t1.999\nGoogle Chrome\t1.999\n");
  for (const auto& f : fs::directory_iterator(h.data.path()))
    EXPECT_EQ(f.path().filename().string().find(".tmp"), std::string::npos) << f.path();
}

}  // namespace
}  // namespace e2e
