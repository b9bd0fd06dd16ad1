// Every kind of message, through the built host, with the stand-in
// application on the other side of the link.
#include <gtest/gtest.h>

#include "harness.hpp"

namespace e2e {
namespace {

const std::string kDefaultTypes = "00* 3DM 3DS 3GP 3MF 7Z AAB AAC ABC ACE AFDESIGN AFPHOTO AI";

TEST(Dispatch, RequestsReachTheApplication) {
  Host h;
  App app(h.data.path());
  const struct {
    std::string body;
    std::string request;
  } cases[] = {
      {R"({"url": "https://example.com/f.zip", "filename": "C:\\Users\\x\\f.zip", "size": 2048,
          "referrer": "https://example.com/", "cookies": "a=1", "userAgent": ")" +
           std::string(kChromeUa) +
           R"(", "cookieJar": [{"name": "a", "value": "1", "domain": "example.com", "hostOnly": true,
          "path": "/", "expirationDate": 1234}], "proxy": " http://proxy:+08080 ", "proxyLogin": true,
          "proxyPac": "no function here", "finalUrl": "https://example.com/f.zip", "post": "",
          "postType": "text/plain", "mime": ""})",
       request_line(
           {{"url", R"("https://example.com/f.zip")"},
            {"name", R"("f.zip")"},
            {"referer", R"("https://example.com/")"},
            {"cookies",
             R"("a=1","cookie_jar":[{"name":"a","value":"1","domain":"example.com","host_only":true,"path":"/","secure":false,"expires":1234.0}])"},
            {"user_agent", "\"" + std::string(kChromeUa) + "\""},
            {"size", "2048"},
            {"post", R"("")"},
            {"post_type", R"("text/plain")"},
            {"proxy", R"("http://proxy:8080")"},
            {"proxy_login", "true"}})},
      // Explicit downloads skip the rules, but not the scheme check.
      {R"({"url": "ftp://h/page.html", "explicit": true, "private": true, "finalUrl": "ftp://h/Page.html"})",
       request_line({{"url", R"("ftp://h/page.html")"},
                     {"final_url", R"("ftp://h/Page.html")"},
                     {"private", "true"}})},
      {R"({"hideSite": "  example.com\t", "excludeSite": "x"})",
       request_line({{"panel_hide_site", R"("example.com")"}})},
      {R"({"openOptions": true, "page": "general"})",
       request_line({{"show", R"("options:general")"}})},
      {R"({"openOptions": true, "page": "General"})",
       request_line({{"show", R"("options:panels")"}})},
      {R"({"hideSite": "   ", "openOptions": true})",
       request_line({{"show", R"("options:panels")"}})},
      {R"({"open": true, "url": "https://x/y.zip"})", request_line({})},
      {R"({"excludeSite": " a.example ", "links": ["https://l"]})",
       request_line({{"exclude_site", R"("a.example")"}})},
      {R"({"links": ["javascript:void 0", "ftp://h/a.iso", "data:text/plain,x", "HTTPS://h/b"],
          "referrer": "", "cookies": "c=1", "private": true})",
       request_line({{"cookies", R"("c=1")"},
                     {"private", "true"},
                     {"links", R"(["ftp://h/a.iso","HTTPS://h/b"])"}})},
      {R"({"video": true, "url": "https://v.example/watch", "src": "https://cdn.example/v.mp4",
          "title": " A \"film\" ", "referrer": "https://r", "cookieJar": [{}]})",
       request_line(
           {{"referer", R"("https://v.example/watch")"},
            {"cookies",
             R"(null,"cookie_jar":[{"name":"","value":"","domain":"","host_only":false,"path":"","secure":false,"expires":null}])"},
            {"video_page", R"("https://cdn.example/v.mp4")"},
            {"video_title", R"(" A \"film\" ")"}})},
      {R"({"video": true, "url": "https://v.example/watch", "src": "blob:https://v.example/1",
          "title": "  ", "referrer": "https://r"})",
       request_line(
           {{"referer", R"("https://r")"}, {"video_page", R"("https://v.example/watch")"}})},
  };
  for (const auto& c : cases) {
    const size_t before = h.requests().size();
    EXPECT_EQ(h.one(c.body), R"({"ok":true})") << c.body;
    const auto requests = h.requests();
    ASSERT_EQ(requests.size(), before + 1) << c.body;
    EXPECT_EQ(requests.back(), c.request) << c.body;
  }
}

TEST(Dispatch, AnswersWithoutTheApplication) {
  Host h;
  write_text(h.data.path() / "downloads.json",
             R"({"settings": {"capture_min_kb": 1, "video_panel_sites": "*.novideo.example",
                 "browsers": [["Mozilla Firefox", false]], "excluded_addresses": ["*/private/*"]}})");
  const std::string ua = std::string(R"(, "userAgent": ")") + kChromeUa + "\"";
  const auto declined = [](const std::string& word, const std::string& wire) {
    return R"~({"ok":false,"error":"left to the browser by Options ()~" + word +
           R"~()","why":"options","declined":")~" + wire + "\"}";
  };
  const struct {
    std::string body;
    std::string reply;
  } cases[] = {
      {R"({"url": "file:///C:/x.zip", "explicit": true})",
       R"({"ok":false,"error":"not an http(s) or ftp(s) URL","why":"refused"})"},
      {"{}", R"({"ok":false,"error":"not an http(s) or ftp(s) URL","why":"refused"})"},
      {R"({"url": "https://h/page.html")" + ua + "}", declined("FileType", "file-type")},
      {R"({"url": "https://h/f.zip", "size": 1023)" + ua + "}", declined("Small", "small")},
      {R"({"url": "https://h/private/f.zip")" + ua + "}", declined("Address", "address")},
      {R"({"url": "https://h/f.zip", "finalUrl": "https://docs.google.com/f.zip", "size": 5)" + ua +
           "}",
       declined("Small", "small")},
      {R"({"url": "https://h/f.zip", "finalUrl": "https://docs.google.com/f.zip")" + ua + "}",
       declined("Site", "site")},
      {std::string(R"({"url": "https://h/f.zip", "userAgent": ")") + kFirefoxUa + "\"}",
       declined("Browser", "browser")},
      {R"({"links": ["mailto:a@b", "javascript:x"]})",
       R"({"ok":false,"error":"no link Torvanel downloads","why":"refused"})"},
      {R"({"video": true, "url": "ftp://v.example/watch"})",
       R"({"ok":false,"error":"not an http(s) page","why":"refused"})"},
      {R"({"video": true, "url": "https://www.novideo.example/v")" + ua + "}",
       R"({"ok":false,"error":"the video button is off here","why":"options"})"},
      {R"({"panel": true, "url": "https://www.novideo.example/v")" + ua + "}", R"({"ok":false})"},
      {R"({"panel": true, "url": "https://other.example/v")" + ua + "}", R"({"ok":true})"},
      {R"({"declined": {"why": "small"}, "rules": false})", R"({"ok":true})"},
  };
  for (const auto& c : cases) EXPECT_EQ(h.one(c.body), c.reply) << c.body;
  EXPECT_FALSE(fs::exists(h.data.path() / "requests.jsonl"));
}

TEST(Dispatch, RulesSummary) {
  Host h;
  const std::string hello =
      std::string(R"({"hello": true, "v": "2.0", "userAgent": ")") + kChromeUa + "\"}";
  const std::string reply = h.one(hello);
  const std::string head = R"({"ok":true,"version":"0.5.1","types":")" + kDefaultTypes;
  EXPECT_EQ(reply.substr(0, head.size()), head);
  EXPECT_NE(
      reply.find(R"(ZIPX ZPR ZST ZTL","capture":true,"excludedSites":"*.update.microsoft.com )"),
      std::string::npos);
  EXPECT_TRUE(
      reply.ends_with(R"(.sharepoint.com","excludedAddresses":[],"opened":true,"minKb":0})"))
      << reply;

  // A change of the settings takes effect with the next message.
  write_text(h.data.path() / "downloads.json",
             R"({"settings": {"auto_types": "zip  ISO", "browsers": [["Google Chrome", false]],
                 "excluded_sites": "", "excluded_addresses": ["a", "b"], "capture_opened": false,
                 "capture_min_kb": 18446744073709551615}})");
  EXPECT_EQ(
      h.one(std::string(R"({"rules": true, "declined": {}, "userAgent": ")") + kChromeUa + "\"}"),
      R"({"ok":true,"version":"0.5.1","types":"zip  ISO","capture":false,"excludedSites":"",)"
      R"("excludedAddresses":["a","b"],"opened":false,"minKb":18446744073709551615,"captureOff":"browser"})");
  write_text(h.data.path() / "downloads.json",
             R"({"settings": {"advanced_integration": false}, "other": 1})");
  const std::string off = h.one(R"({"rules": true})");
  EXPECT_NE(off.find(R"("capture":false,)"), std::string::npos);
  EXPECT_NE(off.find(R"("captureOff":"integration-off"})"), std::string::npos);
  // One bad value discards the whole file.
  write_text(h.data.path() / "downloads.json",
             R"({"settings": {"advanced_integration": false, "video_panel": null}})");
  EXPECT_EQ(h.one(R"({"rules": true})").substr(0, head.size()), head);
}

TEST(Dispatch, LogsDownloadsLeftToTheBrowser) {
  Host h;
  const std::string ff = std::string(R"(, "userAgent": ")") + kFirefoxUa + "\"";
  h.talk({R"({"declined": {"why": "file-type", "site": "example.com", "name": "a.txt"})" + ff + "}",
          R"({"declined": {"why": "site-access", "site": "s", "name": ""}, "private": true})",
          R"({"declined": {"why": "no wire word here\nbut forty characters"}, "brands": ["Zen"]})",
          R"({"url": "https://h/dl?x=1#y", "size": 3, "userAgent": ""})",
          R"({"rules": true, "declined": {"why": "site"}})"});
  EXPECT_EQ(
      h.log(),
      (std::vector<std::string>{
          "browser integration: Mozilla Firefox keeps a.txt from example.com: its type isn't in "
          "Options > File types",
          "browser integration: a browser keeps a download from a private window: the browser "
          "doesn't let the "
          "extension read this site (its site access is limited)",
          "browser integration: Zen Browser keeps a download: no wire word here but forty char",
          "browser integration: a browser keeps dl from h: its type isn't in Options > File types",
      }));
}

TEST(Dispatch, RecordsExtensionVersions) {
  Host h;
  const auto seen = [&] { return read_text(h.data.path() / "extension-seen"); };
  const std::string chrome = std::string(R"(, "userAgent": ")") + kChromeUa + "\"";
  h.talk({R"({"hello": true, "v": "2.0")" + chrome + "}"});
  EXPECT_EQ(seen(), "Google Chrome\t2.0\n");
  h.talk({R"({"hello": true, "v": "1.0", "brands": ["Brave"]})",
          R"({"rules": true, "v": "2.0")" + chrome + "}"});
  EXPECT_EQ(seen(), "Google Chrome\t2.0\nBrave Browser\t1.0\n");
  h.talk({R"({"hello": true, "v": "2.1")" + chrome + "}", R"({"open": false, "url": "x"})"});
  EXPECT_EQ(seen(), "Brave Browser\t1.0\nGoogle Chrome\t2.1\n");
  h.talk({"[1]"});  // a message that does not parse touches nothing
  EXPECT_EQ(seen(), "Brave Browser\t1.0\nGoogle Chrome\t2.1\n");
}

TEST(Dispatch, ApplicationThatCannotStart) {
  InstalledHost h;
  // A stale endpoint file: nobody listens there any more.
  write_text(h.data.path() / "ipc.json", R"({"port": 1, "token": "old", "pid": 0})");
  const auto replies = h.talk({R"({"open": true})"}, {}, h.exe);
  ASSERT_EQ(replies.size(), 1u);
  const std::string program = host_path(h.install.path() / "qartorvaneldownloadmanager.exe");
  const std::string head = R"({"ok":false,"error":"cannot start )";
  std::string escaped;
  for (const char c : program) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_EQ(replies[0].substr(0, head.size() + escaped.size() + 2), head + escaped + ": ");
  EXPECT_NE(replies[0].find(R"~( (os error 2)","why":"not-running"})~"), std::string::npos)
      << replies[0];
}

}  // namespace
}  // namespace e2e
