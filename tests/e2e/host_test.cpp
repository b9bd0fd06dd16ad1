// The program's entry point and framing, seen from the browser's side.
#include <gtest/gtest.h>

#include "harness.hpp"

namespace e2e {
namespace {

RunResult run_args(std::vector<std::string> args, std::string input) {
  TempDir data;
  return run({std::move(args), std::move(input), {{"QTM_DATA_DIR", host_path(data.path())}}});
}

// Callers that are not the extension are refused before any message is
// read; the others get the host loop.
TEST(EntryPoint, ModesAndRefusals) {
  const std::string answer =
      R"({"ok":false,"error":"invalid type: integer `5`, expected struct Message at line 1 column 1","why":"refused"})";
  const struct {
    std::vector<std::string> args;
    std::string err;  // after the prefix; none: the message is answered
  } cases[] = {
      {{}, "refusing caller []"},
      {{"chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc"},
       R"(refusing caller ["chrome-extension://pjgmbkdaieonhfclgkbimepajnodlhfc"])"},
      {{"chrome-extension://PJGMBKDAIEONHFCLGKBIMEPAJNODLHFC/", "x y"},
       R"(refusing caller ["chrome-extension://PJGMBKDAIEONHFCLGKBIMEPAJNODLHFC/", "x y"])"},
      {{"browser@qartorvanel.example"}, R"(refusing caller ["browser@qartorvanel.example"])"},
      {{"--all-users", "--register"}, R"(refusing caller ["--all-users", "--register"])"},
      {{"a\"b\\c", "tab\there"}, R"(refusing caller ["a\"b\\c", "tab\there"])"},
      {{"--package-manifests"}, "--package-manifests: the .deb and .rpm are Linux's\n"},
      {{kOrigin}, ""},
      {{kOrigin, "--parent-window=0"}, ""},
      {{"C:\\x\\com.qartorvaneldownloadmanager.host.firefox.json", "browser@qartorvanel.example"},
       ""},
      {{"--safari"}, ""},
  };
  for (const auto& c : cases) {
    const auto r = run_args(c.args, frame("5"));
    std::string err = c.err;
    if (err.starts_with("refusing")) err += ": not the QAR Torvanel Download Manager extension\n";
    EXPECT_EQ(r.exit_code, err.empty() ? 0 : 1) << c.err;
    EXPECT_EQ(r.err, err.empty() ? "" : kPrefix + err);
    EXPECT_EQ(split_frames(r.out),
              err.empty() ? std::vector<std::string>{answer} : std::vector<std::string>{});
  }
}

TEST(Framing, SizeLimitAndEndsOfInput) {
  // A body of exactly the limit is read and parsed.
  const std::string at_limit = "{\"pad\":\"" + std::string(1048576 - 10, 'a') + "\"}";
  const std::string bad = frame("[1]");
  const std::string bad_reply =
      R"({"ok":false,"error":"invalid type: integer `1`, expected a boolean at line 1 column 2","why":"refused"})";
  const auto too_large = [](const char* n) {
    return R"({"ok":false,"error":"a message of )" + std::string(n) +
           R"( bytes","why":"too-large"})";
  };
  // A message within the limit whose refusal quotes it, escaped twice over:
  // the error is cut so that the reply stays within what a browser takes.
  std::string quotes = R"({"rules":")", cut = R"({"ok":false,"error":"invalid type: string \")";
  for (int i = 0; i < 524280; ++i) quotes += R"(\")";
  for (int i = 0; i < 262127; ++i) cut += R"(\\\")";
  quotes += "\"}";
  cut += "\\\\\u2026\",\"why\":\"refused\"}";
  ASSERT_EQ(quotes.size(), 1048572u);
  ASSERT_EQ(cut.size(), 1048575u);

  const struct {
    const char* name;
    std::string input;
    std::vector<std::string> replies;
    std::string err{};  // after the prefix; with exit code 1
  } cases[] = {
      {"at the limit",
       frame(at_limit) + bad,
       {R"({"ok":false,"error":"not an http(s) or ftp(s) URL","why":"refused"})", bad_reply}},
      {"one over, then the next frame",
       frame(at_limit + " ") + bad,
       {too_large("1048577"), bad_reply}},
      {"reply cut to the limit, then the next frame", frame(quotes) + bad, {cut, bad_reply}},
      {"huge length, input closed early",
       std::string("\xff\xff\xff\xff", 4) + "0123456789",
       {too_large("4294967295")}},
      {"input closed inside the length", std::string("\x05\x00", 2), {}},
      {"nothing at all", "", {}},
      {"input closed inside a body",
       std::string("\x05\x00\x00\x00{}", 6),
       {},
       "failed to fill whole buffer\n"},
      {"zero-length body",
       frame(""),
       {R"({"ok":false,"error":"EOF while parsing a value at line 1 column 0","why":"refused"})"}},
      {"two frames back to back",
       bad + frame("{\"a\":1,}"),
       {bad_reply, R"({"ok":false,"error":"trailing comma at line 1 column 8","why":"refused"})"}},
  };
  for (const auto& c : cases) {
    const auto r = run_args({kOrigin}, c.input);
    std::string rest;
    EXPECT_EQ(split_frames(r.out, &rest), c.replies) << c.name;
    EXPECT_EQ(rest, "") << c.name;
    EXPECT_EQ(r.exit_code, c.err.empty() ? 0 : 1) << c.name;
    EXPECT_EQ(r.err, c.err.empty() ? "" : kPrefix + c.err) << c.name;
  }
}

}  // namespace
}  // namespace e2e
