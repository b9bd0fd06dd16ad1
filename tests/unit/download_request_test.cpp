#include "nmhost/download_request.hpp"

#include <gtest/gtest.h>

namespace nm::host {
namespace {

using S = std::optional<std::string>;

TEST(DownloadRequest, CopiesDropsAndChecks) {
  Message only_url;
  only_url.url = "https://h/f.zip";
  const auto bare = download_request(only_url);
  ipc::AppRequest want;
  want.url = "https://h/f.zip";
  EXPECT_EQ(bare, want);

  const struct {
    const char* what;
    void (*set)(Message&);
    bool (*check)(const ipc::AppRequest&);
  } cases[] = {
      {"name from a path", [](Message& m) { m.filename = "a\\b/c.txt"; },
       [](const ipc::AppRequest& r) { return r.name == S("c.txt"); }},
      {"name from a Windows path", [](Message& m) { m.filename = "C:\\Users\\x\\file.zip"; },
       [](const ipc::AppRequest& r) { return r.name == S("file.zip"); }},
      {"no name from a folder", [](Message& m) { m.filename = "dir/"; },
       [](const ipc::AppRequest& r) { return !r.name; }},
      {"no name from empty", [](Message& m) { m.filename = ""; },
       [](const ipc::AppRequest& r) { return !r.name; }},
      {"empty user agent kept", [](Message& m) { m.userAgent = ""; },
       [](const ipc::AppRequest& r) { return r.user_agent == S(""); }},
      {"empty referrer dropped", [](Message& m) { m.referrer = ""; },
       [](const ipc::AppRequest& r) { return !r.referer; }},
      {"empty cookies dropped", [](Message& m) { m.cookies = ""; },
       [](const ipc::AppRequest& r) { return !r.cookies; }},
      {"final address equal to the address dropped", [](Message& m) { m.finalUrl = m.url; },
       [](const ipc::AppRequest& r) { return !r.final_url; }},
      {"final address differing in case kept", [](Message& m) { m.finalUrl = "https://H/f.zip"; },
       [](const ipc::AppRequest& r) { return r.final_url == S("https://H/f.zip"); }},
      {"zero size dropped", [](Message& m) { m.size = 0; },
       [](const ipc::AppRequest& r) { return !r.size; }},
      {"size 1 kept", [](Message& m) { m.size = 1; },
       [](const ipc::AppRequest& r) { return r.size == std::optional<uint64_t>(1); }},
      {"post type without post dropped", [](Message& m) { m.postType = "text/plain"; },
       [](const ipc::AppRequest& r) { return !r.post_type && !r.post; }},
      {"empty post with its type kept",
       [](Message& m) {
         m.post = "";
         m.postType = "text/plain";
       },
       [](const ipc::AppRequest& r) { return r.post == S("") && r.post_type == S("text/plain"); }},
      {"rejected proxy, login kept",
       [](Message& m) {
         m.proxy = "ftp://gateway:21";
         m.proxyLogin = true;
       },
       [](const ipc::AppRequest& r) { return !r.proxy && r.proxy_login; }},
      {"proxy normalised", [](Message& m) { m.proxy = " socks5://h:+1080 "; },
       [](const ipc::AppRequest& r) { return r.proxy == S("socks5://h:1080"); }},
      {"pac without the function dropped", [](Message& m) { m.proxyPac = "return 'DIRECT';"; },
       [](const ipc::AppRequest& r) { return !r.proxy_pac; }},
      {"cookies moved in order",
       [](Message& m) {
         ipc::BrowserCookie a;
         a.name = "a";
         m.cookieJar.push_back(a);
         m.cookieJar.push_back(a);
       },
       [](const ipc::AppRequest& r) {
         return r.cookie_jar.size() == 2 && r.cookie_jar[1].name == "a";
       }},
  };
  for (const auto& c : cases) {
    Message m = only_url;
    c.set(m);
    EXPECT_TRUE(c.check(download_request(m))) << c.what;
  }
}

}  // namespace
}  // namespace nm::host
