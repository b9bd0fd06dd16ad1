// The program's entry point and framing, seen from the browser's side.
#include <gtest/gtest.h>

#include "harness.hpp"

namespace e2e {
namespace {

std::string refused(const std::string& args) {
  return "refusing caller [" + args + "]: not the QAR Torvanel Download Manager extension\n";
}
std::string error(const std::string& why, const std::string& text) {
  return R"({"ok":false,"error":")" + text + R"(","why":")" + why + R"("})";
}
const std::string five = frame("5"), bad = frame("[1]");
const std::string five_reply =
    error("refused", "invalid type: integer `5`, expected struct Message at line 1 column 1");
const std::string bad_reply =
    error("refused", "invalid type: integer `1`, expected a boolean at line 1 column 2");

struct Case {
  std::vector<std::string> args;
  std::string input;
  std::vector<std::string> replies;
  std::string err{};  // after the prefix; with exit code 1
};
// Each case in a data directory of its own: the replies, nothing more, the
// error line and the exit code.
void expect_runs(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20) + " " + (c.args.empty() ? "" : c.args[0]));
    TempFolder data;
    const auto r = run({c.args, c.input, {{"QTM_DATA_DIR", host_path(data.path())}}});
    std::string rest;
    EXPECT_EQ(split_frames(r.out, &rest), c.replies);
    EXPECT_EQ(rest, "");
    EXPECT_EQ(r.exit_code, c.err.empty() ? 0 : 1);
    EXPECT_EQ(r.err, c.err.empty() ? "" : kPrefix + c.err);
  }
}

// Only the companion's origin, or its add-on id after a manifest path, runs
// the host; every other caller is refused before a message is read.
TEST(EntryPoint, Callers) {
  expect_runs({
      {{}, five, {}, refused("")},
      {{"chrome-extension://PJGMBKDAIEONHFCLGKBIMEPAJNODLHFC/", "x y"},
       five,
       {},
       refused(R"("chrome-extension://PJGMBKDAIEONHFCLGKBIMEPAJNODLHFC/", "x y")")},
      {{"browser@qartorvanel.example"}, five, {}, refused(R"("browser@qartorvanel.example")")},
      {{"--all-users", "--register"}, five, {}, refused(R"("--all-users", "--register")")},
      {{"--package-manifests"}, five, {}, "--package-manifests: the .deb and .rpm are Linux's\n"},
      {{kOrigin}, five, {five_reply}},
      {{kOrigin, "--parent-window=0"}, five, {five_reply}},
      {{"C:\\x\\com.qartorvaneldownloadmanager.host.firefox.json", "browser@qartorvanel.example"},
       five,
       {five_reply}},
      {{"--safari"}, five, {five_reply}},
  });
}

// At the limit and one over, each followed by a frame; a huge length; an
// empty frame. (Input that ends early and cut replies: protocol.md's examples
// and the reply tests.)
TEST(EntryPoint, Framing) {
  // A body of exactly the limit is read and parsed.
  const std::string at_limit = "{\"pad\":\"" + std::string(1048576 - 10, 'a') + "\"}";
  expect_runs({
      {{kOrigin},
       frame(at_limit) + bad,
       {error("refused", "not an http(s) or ftp(s) URL"), bad_reply}},
      {{kOrigin},
       frame(at_limit + " ") + bad,
       {error("too-large", "a message of 1048577 bytes"), bad_reply}},
      {{kOrigin},
       std::string("\xff\xff\xff\xff", 4) + "0123456789",
       {error("too-large", "a message of 4294967295 bytes")}},
      {{kOrigin}, frame(""), {error("refused", "EOF while parsing a value at line 1 column 0")}},
  });
}

// A frame that arrives in pieces, the first a single byte, is read whole.
TEST(EntryPoint, FrameInPieces) {
  TempFolder data;
  Session s({.args = {kOrigin}, .env = {{"QTM_DATA_DIR", host_path(data.path())}}});
  const std::string f = frame(R"({"hello": true})");
  for (const auto& [at, n] : {std::pair{0, 1}, {1, 4}, {5, 1}, {6, 99}}) {
    s.write(f.substr(at, n));
    std::this_thread::sleep_for(Ms(50));
  }
  EXPECT_TRUE(s.read_reply().value_or("").starts_with(R"({"ok":true,"version":)"));
  EXPECT_EQ(s.finish().exit_code, 0);
}

}  // namespace
}  // namespace e2e
