// Every kind of message through the built host to the stand-in application;
// the decisions are unit-tested, one case a behaviour proves the wiring.
#include <gtest/gtest.h>

#include "harness.hpp"

namespace e2e {
namespace {

const std::string kChrome = std::string(R"("userAgent": ")") + kChromeUa + "\"";

TEST(Dispatch, RequestsReachTheApplication) {
  Host h;
  App app(h.data.path());
  const std::string jar = R"(,"cookie_jar":[{"name":"a","value":"1","domain":"example.com",)"
                          R"("host_only":true,"path":"/","secure":false,"expires":1234.0}])";
  const std::string empty_jar = R"(,"cookie_jar":[{"name":"","value":"","domain":"",)"
                                R"("host_only":false,"path":"","secure":false,"expires":null}])";
  const struct {
    std::string body, request;
  } cases[] = {
      {R"({"url": "https://example.com/f.zip", "filename": "C:\\Users\\x\\f.zip", "size": 2048,
          "referrer": "https://example.com/", "cookies": "a=1", )" +
           kChrome +
           R"(, "cookieJar": [{"name": "a", "value": "1", "domain": "example.com", "hostOnly": true,
          "path": "/", "expirationDate": 1234}], "proxy": " http://proxy:+08080 ", "proxyLogin": true,
          "proxyPac": "no function here", "finalUrl": "https://example.com/f.zip", "post": "",
          "postType": "text/plain", "mime": ""})",
       request_line({"url",         R"("https://example.com/f.zip")",
                     "name",        R"("f.zip")",
                     "referer",     R"("https://example.com/")",
                     "cookies",     R"("a=1")" + jar,
                     "user_agent",  "\"" + std::string(kChromeUa) + "\"",
                     "size",        "2048",
                     "post",        R"("")",
                     "post_type",   R"("text/plain")",
                     "proxy",       R"("http://proxy:8080")",
                     "proxy_login", "true"})},
      {R"({"hideSite": "  example.com\t", "excludeSite": "x"})",
       request_line({"panel_hide_site", R"("example.com")"})},
      {R"({"openOptions": true, "page": "general"})",
       request_line({"show", R"("options:general")"})},
      {R"({"hideSite": "   ", "openOptions": true, "page": "General"})",
       request_line({"show", R"("options:panels")"})},
      {R"({"open": true, "url": "https://x/y.zip"})", request_line({})},
      {R"({"excludeSite": " a.example ", "links": ["https://l"]})",
       request_line({"exclude_site", R"("a.example")"})},
      {R"({"links": ["javascript:void 0", "ftp://h/a.iso", "data:text/plain,x", "HTTPS://h/b"],
          "referrer": "", "cookies": "c=1", "private": true})",
       request_line({"cookies", R"("c=1")", "private", "true", "links",
                     R"(["ftp://h/a.iso","HTTPS://h/b"])"})},
      {R"({"video": true, "url": "https://v.example/watch", "src": "https://cdn.example/v.mp4",
          "title": " A \"film\" ", "referrer": "https://r", "cookieJar": [{}]})",
       request_line({"referer", R"("https://v.example/watch")", "cookies", "null" + empty_jar,
                     "video_page", R"("https://cdn.example/v.mp4")", "video_title",
                     R"(" A \"film\" ")"})},
      {R"({"video": true, "url": "https://v.example/watch", "src": "blob:https://v.example/1",
          "title": "  ", "referrer": "https://r"})",
       request_line({"referer", R"("https://r")", "video_page", R"("https://v.example/watch")"})},
  };
  for (const auto& c : cases) {
    const size_t before = h.requests().size();
    EXPECT_EQ(h.one(c.body), R"({"ok":true})") << c.body;
    const auto requests = h.requests();
    ASSERT_EQ(requests.size(), before + 1) << c.body;
    EXPECT_EQ(requests.back(), c.request) << c.body;
  }
}

// Each refusal kind once, in its exact bytes; nothing reaches the application.
TEST(Dispatch, AnswersWithoutTheApplication) {
  Host h;
  write_text(h.data.path() / "downloads.json",
             R"({"settings": {"video_panel_sites": "*.novideo.example"}})");
  const std::string novideo = R"("url": "https://www.novideo.example/v", )" + kChrome + "}";
  const struct {
    std::string body, reply;
  } cases[] = {
      {R"({"url": "file:///C:/x.zip", "explicit": true})",
       R"({"ok":false,"error":"not an http(s) or ftp(s) URL","why":"refused"})"},
      {R"({"url": "https://h/page.html", )" + kChrome + "}",
       R"~({"ok":false,"error":"left to the browser by Options (FileType)","why":"options",)~"
       R"("declined":"file-type"})"},
      {R"({"links": ["mailto:a@b", "javascript:x"]})",
       R"({"ok":false,"error":"no link Torvanel downloads","why":"refused"})"},
      {R"({"video": true, "url": "ftp://v.example/watch"})",
       R"({"ok":false,"error":"not an http(s) page","why":"refused"})"},
      {R"({"video": true, )" + novideo,
       R"({"ok":false,"error":"the video button is off here","why":"options"})"},
      {R"({"panel": true, )" + novideo, R"({"ok":false})"},
      {R"({"panel": true, "url": "https://other.example/v", )" + kChrome + "}", R"({"ok":true})"},
      {R"({"declined": {"why": "small"}, "rules": false})", R"({"ok":true})"},
  };
  for (const auto& c : cases) EXPECT_EQ(h.one(c.body), c.reply) << c.body;
  EXPECT_FALSE(fs::exists(h.data.path() / "requests.jsonl"));
}

// The summary follows downloads.json from one message to the next.
TEST(Dispatch, RulesSummary) {
  Host h;
  const std::string defaults = h.one(R"({"hello": true, "v": "2.0", )" + kChrome + "}");
  EXPECT_TRUE(
      defaults.starts_with(R"({"ok":true,"version":"0.5.1","types":"00* 3DM 3DS 3GP 3MF 7Z )") &&
      defaults.find(
          R"(ZIPX ZPR ZST ZTL","capture":true,"excludedSites":"*.update.microsoft.com )") !=
          std::string::npos &&
      defaults.ends_with(R"(.sharepoint.com","excludedAddresses":[],"opened":true,"minKb":0})"))
      << defaults;
  const struct {
    std::string settings, reply_end;
  } cases[] = {
      {R"({"settings": {"auto_types": "zip  ISO", "excluded_sites": "", "capture_opened": false,
          "browsers": [["Google Chrome", false]], "excluded_addresses": ["a", "b"],
          "capture_min_kb": 18446744073709551615}})",
       R"({"ok":true,"version":"0.5.1","types":"zip  ISO","capture":false,"excludedSites":"",)"
       R"("excludedAddresses":["a","b"],"opened":false,"minKb":18446744073709551615,)"
       R"("captureOff":"browser"})"},
      {R"({"settings": {"advanced_integration": false}, "other": 1})",
       R"("captureOff":"integration-off"})"},
      // One bad value discards the whole file.
      {R"({"settings": {"advanced_integration": false, "video_panel": null}})", defaults},
  };
  for (const auto& c : cases) {
    write_text(h.data.path() / "downloads.json", c.settings);
    const std::string reply = h.one(R"({"rules": true, "declined": {}, )" + kChrome + "}");
    EXPECT_TRUE(reply.ends_with(c.reply_end)) << reply;
  }
}

// What the extension declined and what the host leaves to the browser is
// logged; the texts themselves are unit-tested.
TEST(Dispatch, LogsDownloadsLeftToTheBrowser) {
  Host h;
  h.talk({R"({"declined": {"why": "file-type", "site": "example.com", "name": "a.txt"},
              "userAgent": ")" +
              std::string(kFirefoxUa) + "\"}",
          R"({"url": "https://h/dl?x=1#y", "size": 3, "userAgent": ""})",
          R"({"rules": true, "declined": {"why": "site"}})"});
  EXPECT_EQ(h.log(), (std::vector<std::string>{
                         "browser integration: Mozilla Firefox keeps a.txt from example.com: its "
                         "type isn't in Options > File types",
                         "browser integration: a browser keeps dl from h: its type isn't in "
                         "Options > File types"}));
}

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
