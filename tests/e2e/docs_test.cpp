// The examples of docs/protocol.md and docs/application.md, run against the
// host under test, so that the documents cannot drift from what it does.
// Each ```example block is one run of the host in a folder of its own: its
// current folder and, unless env: says otherwise, its data folder. Before:
//   args: ["a", "b"]        the host's arguments (else the companion's origin)
//   env: NAME=VALUE         set for it (QTM_DATA_DIR relative to the folder)
//   downloads.json: <text>  the file; given: <file>: <line> a line of any file
//   app answers: <text>     the stand-in application runs, answering this
//   send: <message>         a frame to the host; bytes: 05 00 ... raw bytes
// What must come out, every line in order (none when the label is absent):
//   reply: <reply>          exit: <code> (0 when absent)   stderr: <line>
//   log: <message>          the log's messages
//   app gets: <request>     when given, the lines the application receives
//                           (it runs, answering "ok"; its token is "t0k")
//   extension-seen: <line>  when given; file: <path> (N bytes) when given,
//                           each file under the folder, in path order
// "..." there stands for any text; "{host folder}" in any line for the host's
// folder with a separator after it, as JSON text.
#include <gtest/gtest.h>

#include <set>

#include "capture/decision.hpp"
#include "capture/settings.hpp"
#include "harness.hpp"
#include "host/reply.hpp"
#include "json/reader.hpp"
#include "json/writer.hpp"

namespace e2e {
namespace {

const fs::path kDocs = NMHOST_DOCS_DIR;

struct Example {
  int line = 0;
  std::map<std::string, std::vector<std::string>> items;  // by label
  std::string input;  // the frames of send: and the bytes of bytes:, in order
  const std::vector<std::string>& operator[](const std::string& label) { return items[label]; }
};

std::vector<Example> examples(const std::string& doc) {
  static const std::set<std::string> labels = {
      "args",  "env",   "downloads.json", "given", "app answers", "send",
      "bytes", "reply", "app gets",       "log",   "exit",        "extension-seen",
      "file",  "stderr"};
  std::vector<Example> out;
  bool inside = false;
  int n = 0;
  for (const std::string& line : lines(read_text(kDocs / doc))) {
    ++n;
    if (line.starts_with("```")) {
      inside = !inside && line == "```example";
      if (inside) out.push_back({n, {}, {}});
    } else if (inside) {
      const size_t colon = line.find(": ");
      const std::string label = line.substr(0, colon);
      if (colon == std::string::npos || !labels.contains(label)) {
        ADD_FAILURE() << doc << ":" << n << ": no label in " << line;
        continue;
      }
      std::string value = line.substr(line.find_first_not_of(' ', colon + 1));
      if (const size_t at = value.find("{host folder}"); at != std::string::npos) {
        std::string folder;  // with the separator after it, as JSON text
        nm::json::append_string(folder, host_path(host_exe().parent_path() / ""));
        value.replace(at, 13, folder.substr(1, folder.size() - 2));
      }
      out.back().items[label].push_back(value);
      if (label == "send") {
        out.back().input += frame(value);
      } else if (label == "bytes") {
        std::istringstream hex(value);
        for (std::string b; hex >> b;)
          out.back().input += static_cast<char>(std::stoi(b, nullptr, 16));
      }
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

// Each file under the folder as "path (N bytes)", in path order.
std::vector<std::string> files_under(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& f : fs::recursive_directory_iterator(folder))
    if (f.is_regular_file())
      out.push_back(fs::relative(f.path(), folder).generic_string() + " (" +
                    std::to_string(f.file_size()) + " bytes)");
  std::sort(out.begin(), out.end());
  return out;
}

void run_examples(const std::string& doc) {
  for (Example& e : examples(doc)) {
    SCOPED_TRACE(doc + ":" + std::to_string(e.line));
    const TempFolder folder;
    fs::path data = folder.path();
    RunOptions o{.args = {kOrigin}, .input = e.input, .cwd = data};
    o.env["QTM_DATA_DIR"] = host_path(data);
    for (const std::string& set : e["env"]) {
      const std::string name = set.substr(0, set.find('=')), value = set.substr(name.size() + 1);
      o.env[name] = value;
      if (name == "QTM_DATA_DIR") data = folder.path() / value;
    }
    if (!e["args"].empty()) {
      nm::json::Cursor c(e["args"][0]);
      o.args.clear();
      EXPECT_TRUE(c.read_strings(o.args) && c.finish()) << e["args"][0];
    }
    if (!e["downloads.json"].empty()) write_text(data / "downloads.json", e["downloads.json"][0]);
    for (const std::string& given : e["given"]) {
      const fs::path file = data / given.substr(0, given.find(": "));
      write_text(file, read_text(file) + given.substr(given.find(": ") + 2) + "\n");
    }
    std::optional<App> app;
    if (!e["app answers"].empty())
      app.emplace(data, std::vector<std::string>{"--answer", e["app answers"][0]});
    else if (!e["app gets"].empty())
      app.emplace(data);
    const RunResult r = run(o);
    std::string torn;
    expect_lines("reply", e["reply"], split_frames(r.out, &torn));
    EXPECT_EQ(torn, "");
    EXPECT_EQ(r.exit_code, e["exit"].empty() ? 0 : std::stoi(e["exit"][0]));
    expect_lines("standard error line", e["stderr"], lines(r.err));
    if (!e["app gets"].empty())
      expect_lines("request", e["app gets"], lines(read_text(data / "requests.jsonl")));
    expect_lines("log line", e["log"], log_messages(data));
    if (!e["extension-seen"].empty())
      expect_lines("extension-seen line", e["extension-seen"],
                   lines(read_text(data / "extension-seen")));
    if (!e["file"].empty()) expect_lines("file", e["file"], files_under(folder.path()));
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
