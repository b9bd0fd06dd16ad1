#include "ipc/send.hpp"

#include <gtest/gtest.h>

#include "base/text.hpp"
#include "ipc/endpoint.hpp"
#include "os/net.hpp"
#include "support/fixtures.hpp"
#include "support/standin.hpp"

namespace nm::ipc {
TEST(SendToApp, UnreachableWithoutListener) {
  uint16_t stale_port = 0;
  {
    auto l = os::TcpListener::bind_loopback();
    ASSERT_TRUE(l.ok()) << l.error();
    stale_port = l->port();
    // Nobody connects: the wait ends empty-handed, not in an error.
    const auto none = l->accept(50);
    ASSERT_TRUE(none.ok()) << none.error();
    EXPECT_FALSE(none->has_value());
  }
  // No file and broken ones are shown end to end; a stale port or port 0 fails fast.
  for (const std::string& file : {"{\"port\":" + std::to_string(stale_port) + ",\"token\":\"t\"}",
                                  std::string("{\"port\":0,\"token\":\"t\"}")}) {
    TempFolder dir;
    ASSERT_TRUE(os::write_file(dir.path() / kEndpointFile, file).ok());
    const int64_t start = now_ms();
    EXPECT_EQ(send_to_app_in(dir.path(), {}).kind, AppAnswer::Kind::unreachable) << file;
    EXPECT_LT(now_ms() - start, 1500);
  }
}

TEST(InterpretAnswer, OkTooLargeOrTheFailure) {
  // Ideographic and no-break spaces are white space too; a byte-order mark is not.
  for (const char* line : {"ok\r\n", "ok\n", "ok", "  ok  \n", "\t\xe3\x80\x80ok\xc2\xa0\r\n"})
    EXPECT_EQ(interpret_answer(line), AppAnswer::delivered()) << line;
  for (const char* line : {"too-large", "too-large: 3 GB\n"})
    EXPECT_EQ(interpret_answer(line), AppAnswer::too_large(std::string(base::trim_unicode(line))))
        << line;
  const std::pair<const char*, const char*> failures[] = {
      {"ok\xc3\n", "stream did not contain valid UTF-8"},
      {"okay\n", "okay"},
      {" \t \n", "no answer"},
      {"  busy  \r\n", "  busy"},
      {"Too-large\n", "Too-large"},
      {" too-large\n", " too-large"},
      {"too-larg\n", "too-larg"},
      {"\xef\xbb\xbfok\n", "\xef\xbb\xbfok"}};
  for (const auto& [line, text] : failures)
    EXPECT_EQ(interpret_answer(line), AppAnswer::failed(text)) << line;
}
}  // namespace nm::ipc
