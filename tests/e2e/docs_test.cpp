// The examples of docs/protocol.md and docs/application.md, run against the
// host under test, so that the documents cannot drift from what it does.
// Each ```example block is one run of the host on a data folder of its own:
//   downloads.json: <the file's content>
//   app answers: <text>     the stand-in application runs and answers this
//   send: <message>         one frame to the host (several in order)
//   reply: <reply>          what must come back, in order
//   app gets: <request>     the request lines the application receives, all
//                           of them (it runs, answering "ok"); token "t0k"
//   log: <message>          a line the log must hold (the log must hold no
//                           other)
// "..." in a reply, request or log line stands for any text.
#include <gtest/gtest.h>

#include <set>

#include "capture/decision.hpp"
#include "capture/settings.hpp"
#include "harness.hpp"
#include "host/reply.hpp"

namespace e2e {
namespace {

const fs::path kDocs = NMHOST_DOCS_DIR;

struct Example {
  int line = 0;
  std::map<std::string, std::vector<std::string>> items;  // by label
  const std::vector<std::string>& operator[](const std::string& label) { return items[label]; }
};

std::vector<Example> examples(const std::string& doc) {
  static const std::set<std::string> labels = {"downloads.json", "app answers", "send",
                                               "reply",          "app gets",    "log"};
  std::vector<Example> out;
  bool inside = false;
  int n = 0;
  for (const std::string& line : lines(read_text(kDocs / doc))) {
    ++n;
    if (line.starts_with("```")) {
      inside = !inside && line == "```example";
      if (inside) out.push_back({n, {}});
    } else if (inside) {
      const size_t colon = line.find(": ");
      const std::string label = line.substr(0, colon);
      if (colon == std::string::npos || !labels.contains(label))
        ADD_FAILURE() << doc << ":" << n << ": no label in " << line;
      else
        out.back().items[label].push_back(line.substr(line.find_first_not_of(' ', colon + 1)));
    }
  }
  EXPECT_FALSE(out.empty()) << doc;
  return out;
}

// "..." stands for any text.
bool matches(std::string_view expected, std::string_view actual) {
  size_t star = expected.find("...");
  if (star == std::string_view::npos) return expected == actual;
  if (!actual.starts_with(expected.substr(0, star))) return false;
  actual.remove_prefix(star);
  for (;;) {
    expected.remove_prefix(star + 3);
    star = expected.find("...");
    const std::string_view piece = expected.substr(0, star);
    if (star == std::string_view::npos)
      return actual.size() >= piece.size() && actual.ends_with(piece);
    const size_t at = actual.find(piece);
    if (at == std::string_view::npos) return false;
    actual.remove_prefix(at + piece.size());
  }
}

void expect_lines(const char* what, const std::vector<std::string>& expected,
                  const std::vector<std::string>& got) {
  for (size_t i = 0; i < std::max(expected.size(), got.size()); ++i) {
    const std::string e = i < expected.size() ? expected[i] : "(none)";
    const std::string g = i < got.size() ? got[i] : "(none)";
    EXPECT_TRUE(matches(e, g)) << what << " " << i + 1 << "\nexpected: " << e
                               << "\n     got: " << g;
  }
}

void run_examples(const std::string& doc) {
  for (Example& e : examples(doc)) {
    SCOPED_TRACE(doc + ":" + std::to_string(e.line));
    Host h;
    if (!e["downloads.json"].empty())
      write_text(h.data.path() / "downloads.json", e["downloads.json"][0]);
    std::optional<App> app;
    if (!e["app answers"].empty())
      app.emplace(h.data.path(), std::vector<std::string>{"--answer", e["app answers"][0]});
    else if (!e["app gets"].empty())
      app.emplace(h.data.path());
    expect_lines("reply", e["reply"], h.talk(e["send"]));
    if (!e["app gets"].empty()) expect_lines("request", e["app gets"], h.requests());
    expect_lines("log line", e["log"], h.log());
  }
}

TEST(Docs, ProtocolExamples) {
  run_examples("protocol.md");
}

TEST(Docs, ApplicationExamples) {
  run_examples("application.md");
}

// Every word a reply may carry, and every capture option, is explained.
TEST(Docs, NameEveryWordAndOption) {
  const std::string protocol = read_text(kDocs / "protocol.md");
  const std::string application = read_text(kDocs / "application.md");
  const auto named = [](const std::string& doc, std::string_view word) {
    return doc.find("`" + std::string(word) + "`") != std::string::npos;
  };
  for (const auto& w : nm::host::kWhyWords) EXPECT_TRUE(named(protocol, w.word)) << w.word;
  for (const auto& r : nm::capture::kReasons) EXPECT_TRUE(named(protocol, r.wire)) << r.wire;
  for (const auto key : nm::capture::kRuleFields) EXPECT_TRUE(named(application, key)) << key;
}

}  // namespace
}  // namespace e2e
