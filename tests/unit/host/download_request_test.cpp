#include "host/download_request.hpp"

#include <gtest/gtest.h>

#include "host/message.hpp"

namespace nm::host {
TEST(DownloadRequest, TheEdgesOfCopying) {
  // The edges of copying that the end-to-end requests do not show.
  const std::pair<const char*, const char*> cases[] = {
      {R"("filename": "a\\b/c.txt")", R"("name":"c.txt",)"},
      {R"("userAgent": "")", R"("user_agent":"",)"},
      {R"("cookies": "")", R"("cookies":null,)"},
      // Present but empty is absent, except for the body of a POST.
      {R"("finalUrl": "", "referrer": "")", R"("referer":null,)"},
      {R"("finalUrl": "")", R"("final_url":null,)"},
      {R"("post": "", "postType": "")", R"("post":"","post_type":null,)"},
      {R"("size": 0)", R"("size":null,)"},
      {R"("size": null)", R"("size":null,)"},
      {R"("size": 1)", R"("size":1,)"},
      {R"("postType": "text/plain")", R"("post":null,"post_type":null,)"}};
  for (const auto& [fields, want] : cases) {
    const std::string body =
        std::string(R"({"url": "https://h/f.zip")") + (*fields ? ", " : "") + fields + "}";
    const auto m = parse_message(body);
    ASSERT_TRUE(m.ok()) << body;
    const std::string line = ipc::serialize_request(download_request(*m), "t");
    EXPECT_NE(line.find(want), std::string::npos) << body << " gave " << line;
  }
}
}  // namespace nm::host
