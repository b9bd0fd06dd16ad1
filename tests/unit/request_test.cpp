#include "ipc/request.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace nm::ipc {
namespace {

TEST(SerializeRequest, EmptyRequestHasEveryKeyButTheCookieJar) {
  EXPECT_EQ(serialize_request({}, "tok"),
            "{\"token\":\"tok\",\"url\":null,\"dir\":null,\"name\":null,\"later\":false,"
            "\"silent\":false,\"start_queue\":false,\"referer\":null,\"cookies\":null,"
            "\"user_agent\":null,\"final_url\":null,\"size\":null,\"mime\":null,\"post\":null,"
            "\"post_type\":null,\"private\":false,\"proxy\":null,\"proxy_pac\":null,"
            "\"proxy_login\":false,\"query\":null,\"api\":null,\"action\":null,\"ids\":[],"
            "\"category\":null,\"queue\":null,\"pair\":false,\"exit\":false,\"startup\":false,"
            "\"show\":null,\"video_page\":null,\"video_title\":null,\"panel_hide_site\":null,"
            "\"links\":[],\"exclude_site\":null}\n");
}

TEST(SerializeRequest, EveryFieldInItsPlace) {
  AppRequest r;
  r.url = "https://a.example/f.zip";
  r.dir = "D:\\dl";
  r.name = "f.zip";
  r.later = r.silent = r.start_queue = true;
  r.referer = "https://a.example/";
  r.cookies = "a=1; b=2";
  r.cookie_jar = {{"a", "1", ".example", false, "/", true, 1700000000.0},
                  {"b", "2", "a.example", true, "/x", false, std::nullopt}};
  r.user_agent = "UA";
  r.final_url = "https://cdn.example/f.zip";
  r.size = std::numeric_limits<uint64_t>::max();
  r.mime = "application/zip";
  r.post = "k=v";
  r.post_type = "application/x-www-form-urlencoded";
  r.private_ = true;
  r.proxy = "http://127.0.0.1:8080";
  r.proxy_pac = "http://wpad/wpad.dat";
  r.proxy_login = true;
  r.query = "q";
  r.api = false;
  r.action = "add";
  r.ids = {0, 7};
  r.category = "Video";
  r.queue = "Main";
  r.pair = r.exit = r.startup = true;
  r.show = "options";
  r.video_page = "https://v.example/watch";
  r.video_title = "Title";
  r.panel_hide_site = "v.example";
  r.links = {"https://a.example/1", "https://a.example/2"};
  r.exclude_site = "b.example";
  EXPECT_EQ(
      serialize_request(r, "0123abcd"),
      "{\"token\":\"0123abcd\",\"url\":\"https://a.example/f.zip\",\"dir\":\"D:\\\\dl\","
      "\"name\":\"f.zip\",\"later\":true,\"silent\":true,\"start_queue\":true,"
      "\"referer\":\"https://a.example/\",\"cookies\":\"a=1; b=2\",\"cookie_jar\":["
      "{\"name\":\"a\",\"value\":\"1\",\"domain\":\".example\",\"host_only\":false,\"path\":\"/\","
      "\"secure\":true,\"expires\":1700000000.0},"
      "{\"name\":\"b\",\"value\":\"2\",\"domain\":\"a.example\",\"host_only\":true,\"path\":\"/x\","
      "\"secure\":false,\"expires\":null}],"
      "\"user_agent\":\"UA\",\"final_url\":\"https://cdn.example/f.zip\","
      "\"size\":18446744073709551615,\"mime\":\"application/zip\",\"post\":\"k=v\","
      "\"post_type\":\"application/x-www-form-urlencoded\",\"private\":true,"
      "\"proxy\":\"http://127.0.0.1:8080\",\"proxy_pac\":\"http://wpad/wpad.dat\","
      "\"proxy_login\":true,\"query\":\"q\",\"api\":false,\"action\":\"add\",\"ids\":[0,7],"
      "\"category\":\"Video\",\"queue\":\"Main\",\"pair\":true,\"exit\":true,\"startup\":true,"
      "\"show\":\"options\",\"video_page\":\"https://v.example/watch\",\"video_title\":\"Title\","
      "\"panel_hide_site\":\"v.example\",\"links\":[\"https://a.example/1\",\"https://a.example/"
      "2\"],"
      "\"exclude_site\":\"b.example\"}\n");
}

TEST(SerializeRequest, TextsStayOnOneLine) {
  const struct {
    std::string text;
    std::string want;
  } cases[] = {
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"l1\nl2\rl3\tx\by\fz", "\"l1\\nl2\\rl3\\tx\\by\\fz\""},
      {std::string("\x00\x01\x1f", 3), "\"\\u0000\\u0001\\u001f\""},
      {"\x7f/\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
       "\"\x7f/\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\""},
      {"", "\"\""},
  };
  for (const auto& c : cases) {
    AppRequest r;
    r.name = c.text;
    r.links = {c.text};
    const std::string line = serialize_request(r, c.text);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_NE(line.find("{\"token\":" + c.want + ","), std::string::npos) << line;
    EXPECT_NE(line.find(",\"name\":" + c.want + ","), std::string::npos) << line;
    EXPECT_NE(line.find(",\"links\":[" + c.want + "],"), std::string::npos) << line;
  }
}

TEST(SerializeRequest, CookieExpiryForms) {
  const double below_plain = std::nextafter(0.00001, 0.0);
  const struct {
    std::optional<double> expires;
    const char* want;
  } cases[] = {
      {std::nullopt, "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
      {std::nan(""), "null"},
      {1234.0, "1234.0"},
      {1234.5, "1234.5"},
      {0.0, "0.0"},
      {-1.25, "-1.25"},
      {1.0 / 3.0, "0.3333333333333333"},
      {0.00001, "0.00001"},
      {below_plain, "9.999999999999999e-6"},
      {1.5e-7, "1.5e-7"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e16, "1e16"},
      {1.2345e20, "1.2345e20"},
      {5e-324, "5e-324"},
  };
  for (const auto& c : cases) {
    AppRequest r;
    r.cookie_jar = {{"n", "v", "d", false, "/", false, c.expires}};
    const std::string line = serialize_request(r, "t");
    const std::string want = std::string("\"expires\":") + c.want + "}],";
    EXPECT_NE(line.find(want), std::string::npos) << c.want << " in " << line;
  }
}

}  // namespace
}  // namespace nm::ipc
