#include "ipc/request.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace nm::ipc {
// The fields only the application's own features fill (the rest: end to end).
TEST(SerializeRequest, AllFields) {
  AppRequest r;
  r.dir = "D:\\dl";
  r.later = r.silent = r.start_queue = r.pair = r.exit = r.startup = true;
  r.cookie_jar = {{"a", "1", ".example", false, "/", true, 1700000000.0},
                  {"b", "2", "a.example", true, "/x", false, std::nullopt}};
  r.size = std::numeric_limits<uint64_t>::max();
  r.query = "q";
  r.api = false;
  r.action = "add";
  r.ids = {0, 7};
  r.category = "Video";
  r.queue = "Main";
  r.links = {"https://a.example/1", "https://a.example/2"};
  EXPECT_EQ(
      serialize_request(r, "0123abcd"),
      R"({"token":"0123abcd","url":null,"dir":"D:\\dl","name":null,"later":true,"silent":true,)"
      R"("start_queue":true,"referer":null,"cookies":null,"cookie_jar":[{"name":"a","value":"1",)"
      R"("domain":".example","host_only":false,"path":"/","secure":true,"expires":1700000000.0},)"
      R"({"name":"b","value":"2","domain":"a.example","host_only":true,"path":"/x",)"
      R"("secure":false,"expires":null}],"user_agent":null,"final_url":null,)"
      R"("size":18446744073709551615,"mime":null,"post":null,"post_type":null,"private":false,)"
      R"("proxy":null,"proxy_pac":null,"proxy_login":false,"query":"q","api":false,)"
      R"("action":"add","ids":[0,7],"category":"Video","queue":"Main","pair":true,"exit":true,)"
      R"("startup":true,"show":null,"video_page":null,"video_title":null,"panel_hide_site":null,)"
      R"("links":["https://a.example/1","https://a.example/2"],"exclude_site":null})"
      "\n");
}
}  // namespace nm::ipc
