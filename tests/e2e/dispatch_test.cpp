// What the documents' examples leave out: extension-seen across runs, and an
// application that cannot start, with its exact path. Every kind of message
// runs through the built host as an example of docs/protocol.md or
// docs/application.md (docs_test.cpp).
#include <gtest/gtest.h>

#include "harness.hpp"

namespace e2e {
namespace {

const std::string kChrome = std::string(R"("userAgent": ")") + kChromeUa + "\"";

TEST(Dispatch, RecordsExtensionVersions) {
  Host h;
  const struct {
    std::vector<std::string> bodies;
    std::string seen;
  } runs[] = {
      {{R"({"hello": true, "v": "2.0", )" + kChrome + "}"}, "Google Chrome\t2.0\n"},
      {{R"({"hello": true, "v": "1.0", "brands": ["Brave"]})",
        R"({"rules": true, "v": "2.0", )" + kChrome + "}"},
       "Google Chrome\t2.0\nBrave Browser\t1.0\n"},
      {{R"({"hello": true, "v": "2.1", )" + kChrome + "}", R"({"open": false, "url": "x"})"},
       "Brave Browser\t1.0\nGoogle Chrome\t2.1\n"},
      {{"[1]"}, "Brave Browser\t1.0\nGoogle Chrome\t2.1\n"},  // what does not parse touches nothing
  };
  for (const auto& r : runs) {
    h.talk(r.bodies);
    EXPECT_EQ(read_text(h.data.path() / "extension-seen"), r.seen);
  }
}

// An empty "cookies" text is no cookies, on links and videos as on downloads.
TEST(Dispatch, EmptyCookiesAreNone) {
  Host h;
  App app(h.data.path());
  const std::string cookies = R"(, "cookies": ""})";
  EXPECT_EQ(h.talk({R"({"links": ["https://a.test/l"])" + cookies,
                    R"({"video": true, "url": "https://v.test/w")" + cookies}),
            (std::vector<std::string>{R"({"ok":true})", R"({"ok":true})"}));
  EXPECT_EQ(h.requests(),
            (std::vector<std::string>{request_line({"links", R"(["https://a.test/l"])"}),
                                      request_line({"video_page", R"("https://v.test/w")"})}));
}

TEST(Dispatch, ApplicationThatCannotStart) {
  InstalledHost h;
  write_text(h.data.path() / "ipc.json", R"({"port": 1, "token": "old", "pid": 0})");
  const std::string reply = h.one(R"({"open": true})");
  std::string program = host_path(h.install.path() / "qartorvaneldownloadmanager.exe");
  for (size_t at = 0; (at = program.find('\\', at)) != std::string::npos; at += 2)
    program.insert(at, "\\");
  EXPECT_TRUE(reply.starts_with(R"({"ok":false,"error":"cannot start )" + program + ": ") &&
              reply.ends_with(R"~( (os error 2)","why":"not-running"})~"))
      << reply;
}

}  // namespace
}  // namespace e2e
